"""Finds libko_core, declares every C call the package makes, and turns failures into Error."""

import ctypes
import ctypes.util
import os

from . import _installed


class Error(Exception):
    """A failure the library reported, carrying its own sentence."""


_NAMES = ("libko_core.so.0", "libko_core.so")


def _candidates():
    explicit = os.environ.get("KO_CORE_LIB")
    if explicit:
        yield explicit
        return
    here = os.path.dirname(os.path.abspath(__file__))
    for folder in (here, os.path.normpath(os.path.join(here, _installed.LIBRARY_FROM_PACKAGE))):
        for name in _NAMES:
            path = os.path.join(folder, name)
            if os.path.exists(path):
                yield path
    found = ctypes.util.find_library("ko_core")
    yield from ([found] if found else [])
    yield from _NAMES


def _load():
    tried = []
    for path in _candidates():
        try:
            return ctypes.CDLL(path)
        except OSError as failure:
            tried.append(f"{path} ({failure})")
    raise ImportError("ko_core: cannot load libko_core: tried " + "; ".join(tried))


lib = _load()

c_float_p = ctypes.POINTER(ctypes.c_float)
c_double_p = ctypes.POINTER(ctypes.c_double)
c_int_p = ctypes.POINTER(ctypes.c_int)
c_int32_p = ctypes.POINTER(ctypes.c_int32)
c_int64_p = ctypes.POINTER(ctypes.c_int64)
c_uint8_p = ctypes.POINTER(ctypes.c_uint8)
c_uint32_p = ctypes.POINTER(ctypes.c_uint32)
c_uint64_p = ctypes.POINTER(ctypes.c_uint64)
c_int16_p = ctypes.POINTER(ctypes.c_int16)
vp = ctypes.c_void_p
cs = ctypes.c_char_p
i32 = ctypes.c_int32
cint = ctypes.c_int
size = ctypes.c_size_t


class UttOpts(ctypes.Structure):
    _fields_ = [
        ("motion_dir", cs),
        ("threads", i32),
        ("motion_ep", cs),
        ("steady_model", cs),
        ("eager", i32),
        ("end_gap_s", ctypes.c_double),
        ("ramp_frames", i32),
        ("interrupt_ramp_frames", i32),
    ]


class UttFrameInfo(ctypes.Structure):
    _fields_ = [("seq", ctypes.c_uint64), ("kind", i32), ("row", i32), ("ordinal", i32)]


class UttStats(ctypes.Structure):
    _fields_ = [
        ("frames_delivered", ctypes.c_uint64),
        ("speech_frames_delivered", ctypes.c_uint64),
        ("utterances", ctypes.c_uint64),
        ("first_frame_ms", ctypes.c_double),
        ("render_ms", ctypes.c_double),
        ("state", i32),
    ]


FrameCallback = ctypes.CFUNCTYPE(None, vp, cint, c_uint8_p, cint, cint)

_PROTOTYPES = {
    # errors and the keypoint contract
    "ko_last_error": (cs, []),
    "ko_host_kp_rows": (cint, []),
    # sessions
    "ko_create": (vp, [cs, cs, cint, cs]),
    "ko_destroy": (None, [vp]),
    "ko_nt": (cint, [vp]),
    "ko_width": (cint, [vp]),
    "ko_height": (cint, [vp]),
    "ko_crop": (cint, [vp]),
    "ko_drive_frames": (cint, [vp]),
    "ko_paste_crop": (cint, [vp, cint, c_float_p, c_uint8_p, size]),
    "ko_target_frame": (c_uint8_p, [vp, cint]),
    "ko_render_kp_crop": (c_float_p, [vp, cint, c_float_p, c_float_p]),
    "ko_render_drive_crop": (c_float_p, [vp, cint]),
    "ko_paste_last": (c_uint8_p, [vp, cint]),
    "ko_bundle_resolve_handle": (cint, [cs, ctypes.c_char_p, size]),
    "ko_bundle_resolve_member": (cint, [cs, cs, ctypes.c_char_p, size]),
    # teeth members and the offline teeth pass
    "ko_tessera_members_open": (vp, [cs, ctypes.c_char_p, cint]),
    "ko_tessera_members_close": (None, [vp]),
    "ko_tessera_members_n_donors": (cint, [vp]),
    "ko_tessera_members_cent": (c_double_p, [vp]),
    "ko_tessera_members_c_canon": (c_double_p, [vp]),
    "ko_tessera_members_aperture": (c_double_p, [vp]),
    "ko_tessera_members_stamp": (c_int32_p, [vp]),
    "ko_tessera_members_head_pt": (c_uint8_p, [vp]),
    "ko_tessera_members_head_pt_len": (ctypes.c_uint32, [vp]),
    "ko_tessera_members_head_json": (cs, [vp]),
    "ko_tessera_members_manifest_json": (cs, [vp]),
    "ko_tessera_members_band_w": (cint, [vp]),
    "ko_tessera_members_band_h": (cint, [vp]),
    "ko_tessera_members_band_bytes": (ctypes.c_uint64, [vp]),
    "ko_tessera_members_decode_bank": (cint, [vp, c_uint8_p, ctypes.c_uint64, ctypes.c_char_p, cint]),
    "ko_tessera_run_shift": (
        cint,
        [c_uint8_p, i32, c_double_p, c_double_p, c_double_p, c_int32_p, c_uint8_p, ctypes.c_uint32, cs,
         c_uint8_p, c_uint8_p, c_int32_p, i32, c_uint8_p, c_uint32_p, ctypes.c_char_p, i32],
    ),
    # the utterance pipeline
    "ko_utt_create": (vp, [vp, ctypes.POINTER(UttOpts)]),
    "ko_utt_push_audio": (cint, [vp, c_int16_p, cint]),
    "ko_utt_end_utterance": (None, [vp]),
    "ko_utt_interrupt": (None, [vp]),
    "ko_utt_frames_available": (cint, [vp]),
    "ko_utt_pull_frame": (cint, [vp, c_uint8_p, size, ctypes.POINTER(UttFrameInfo)]),
    "ko_utt_ready": (cint, [vp]),
    "ko_utt_get_stats": (None, [vp, ctypes.POINTER(UttStats)]),
    "ko_utt_render_status": (cint, [vp, ctypes.c_char_p, size, c_int64_p]),
    "ko_utt_last_error": (cs, []),
    "ko_utt_destroy": (None, [vp]),
    "ko_utt_tessera_attach": (
        cint,
        [vp, c_uint8_p, i32, c_double_p, c_double_p, c_double_p, c_int32_p, c_uint8_p, ctypes.c_uint32, cs, cs,
         ctypes.c_char_p, i32],
    ),
    "ko_utt_tessera_stats": (cint, [vp, c_uint64_p, c_uint64_p, ctypes.c_char_p, size]),
    "ko_utt_tessera_synth_w": (cint, [vp, c_double_p, c_double_p, c_int64_p]),
    "ko_utt_tessera_geometry": (cint, [vp, ctypes.c_char_p, size]),
    # the offline stream
    "ko_stream_create": (vp, [cs, cs, cint, cint, ctypes.c_float]),
    "ko_stream_run": (cint, [vp, c_float_p, cint, FrameCallback, vp]),
    "ko_stream_width": (cint, [vp]),
    "ko_stream_height": (cint, [vp]),
    "ko_stream_last_error": (cs, []),
    "ko_stream_destroy": (None, [vp]),
    # audio to expression
    "ko_a2x_create": (vp, [cs, cint]),
    "ko_a2x_push": (cint, [vp, c_float_p, cint]),
    "ko_a2x_finish": (cint, [vp]),
    "ko_a2x_total": (cint, [vp]),
    "ko_a2x_avail": (cint, [vp]),
    "ko_a2x_pull": (cint, [vp, c_int_p, c_float_p, c_float_p, cint]),
    "ko_a2x_reset": (cint, [vp, cint, cint, cint]),
    "ko_a2x_nt": (cint, [vp]),
    "ko_a2x_deltas": (cint, [vp, c_float_p, cint, c_float_p, cint]),
    "ko_a2x_set_eager": (None, [vp, cint]),
    "ko_a2x_preload_w2v": (cint, [cs]),
    "ko_a2x_last_error": (cs, []),
    "ko_a2x_destroy": (None, [vp]),
    # audio to motion
    "ko_motion_create": (vp, [cs, cint, cs]),
    "ko_motion_push": (cint, [vp, c_float_p, cint]),
    "ko_motion_finish": (cint, [vp]),
    "ko_motion_total": (cint, [vp]),
    "ko_motion_avail": (cint, [vp]),
    "ko_motion_pull": (cint, [vp, c_int_p, c_float_p, c_float_p, cint]),
    "ko_motion_reset": (cint, [vp, cint, cint, cint]),
    "ko_motion_nt": (cint, [vp]),
    "ko_motion_set_eager": (None, [vp, cint]),
    "ko_motion_last_error": (cs, []),
    "ko_motion_destroy": (None, [vp]),
    # whole-utterance expression
    "ko_fca_create": (vp, [cs, cs, cint]),
    "ko_fca_deltas": (cint, [vp, c_float_p, cint, c_float_p, cint]),
    "ko_fca_last_error": (cs, []),
    "ko_fca_destroy": (None, [vp]),
}

for _name, (_restype, _argtypes) in _PROTOTYPES.items():
    _function = getattr(lib, _name)
    _function.restype = _restype
    _function.argtypes = _argtypes


def text(raw):
    """A C string from the library as Python text; the library's sentences are UTF-8."""
    return raw.decode("utf-8", "replace") if raw else ""


def path(value, what):
    """A path or name argument as the bytes a C call takes."""
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{what} must be a path (str, bytes or os.PathLike), not {type(value).__name__}")
    return os.fsencode(value)


def failure(last_error):
    """The Error for a failed call of the family whose last-error call is given."""
    return Error(text(last_error()))
