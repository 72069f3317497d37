"""The utterance pipeline: speech pushed whenever the host has some, full frames pulled at its own
rate."""

import ctypes
import time
from dataclasses import dataclass

import numpy as np

from . import _arrays
from ._handle import Handle
from ._library import Error, UttFrameInfo, UttOpts, UttStats, failure, lib, path, text
from .teeth import TeethMembers, _ERR_BYTES, _err_buffer

IDLE, SPEECH, BLEND = 0, 1, 2

_OPTIONS = {"threads", "motion_ep", "steady_model", "eager", "end_gap_s", "ramp_frames",
            "interrupt_ramp_frames"}


@dataclass(frozen=True)
class FrameInfo:
    seq: int  # frames produced before this one
    kind: int  # IDLE, SPEECH or BLEND
    row: int  # driver row
    ordinal: int  # a speech frame's place in its utterance, else -1


@dataclass(frozen=True)
class TeethStats:
    state: int  # 0 no borrow, 1 armed, -1 refused or failed
    applied: int
    refused: int
    text: str


def _options(motion_dir, opts):
    unknown = set(opts) - _OPTIONS
    if unknown:
        raise TypeError("unknown utterance option(s): " + ", ".join(sorted(unknown)))
    built = UttOpts()
    built.motion_dir = path(motion_dir, "motion_dir")
    for name, value in opts.items():
        if name in ("motion_ep", "steady_model"):
            value = None if value is None else path(value, name)
        setattr(built, name, value)
    return built


class Utterance(Handle):
    """ko_utt_create on a session; options as ko_utt_opts names them (threads, motion_ep,
    steady_model, eager, end_gap_s, ramp_frames, interrupt_ramp_frames). While it lives it is the
    session's only user, and closing the session closes it first."""

    _kind = "utterance pipeline"

    def __init__(self, session, motion_dir, **opts):
        built = _options(motion_dir, opts)
        pointer = lib.ko_utt_create(session.ptr, ctypes.byref(built))
        if not pointer:
            raise failure(lib.ko_utt_last_error)
        super().__init__(pointer, lib.ko_utt_destroy, keep=(session,))
        session._depend(self)
        self._shape = (session.height, session.width, 3)

    @property
    def ready(self):
        """True once the audio model has loaded, False while it loads; a failed load raises Error."""
        state = lib.ko_utt_ready(self.ptr)
        if state < 0:
            raise failure(lib.ko_utt_last_error)
        return state == 1

    def wait_ready(self, timeout=60.0):
        deadline = time.monotonic() + timeout
        while not self.ready:
            if time.monotonic() > deadline:
                raise TimeoutError(f"the audio model did not load within {timeout} s")
            time.sleep(0.005)

    def push(self, pcm):
        """Appends 16 kHz mono speech: int16 samples, or floats in [-1, 1] (scaled to int16)."""
        samples = _arrays.samples_int16(pcm)
        if not lib.ko_utt_push_audio(self.ptr, _arrays.pointer(samples, ctypes.c_int16), samples.size):
            raise failure(lib.ko_utt_last_error)

    def end(self):
        lib.ko_utt_end_utterance(self.ptr)

    def interrupt(self):
        lib.ko_utt_interrupt(self.ptr)

    @property
    def available(self):
        return lib.ko_utt_frames_available(self.ptr)

    def pull(self, timeout=0.0):
        """The oldest finished frame as (uint8 [H, W, 3], FrameInfo), waiting up to timeout seconds;
        None when none came."""
        frame = np.empty(self._shape, np.uint8)
        info = UttFrameInfo()
        deadline = time.monotonic() + timeout
        while True:
            if lib.ko_utt_pull_frame(self.ptr, _arrays.pointer(frame, ctypes.c_uint8), frame.nbytes,
                                     ctypes.byref(info)):
                return frame, FrameInfo(info.seq, info.kind, info.row, info.ordinal)
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.001)

    def __iter__(self):
        """Every frame as it comes, without end: break out when done."""
        while True:
            pulled = self.pull(timeout=0.1)
            if pulled is not None:
                yield pulled

    @property
    def stats(self):
        raw = UttStats()
        lib.ko_utt_get_stats(self.ptr, ctypes.byref(raw))
        return {name: getattr(raw, name) for name, _ in UttStats._fields_}

    def render_status(self):
        """(lost_speech, count, latest text) of the render failures noted so far."""
        buffer = ctypes.create_string_buffer(512)
        count = ctypes.c_int64()
        status = lib.ko_utt_render_status(self.ptr, buffer, len(buffer), ctypes.byref(count))
        return status < 0, count.value, text(buffer.value)

    def attach_teeth(self, members, bank=None):
        """Arms the pipeline with borrowed teeth from a bundle's TeethMembers (its bank decoded by the
        library unless given, uint8 [n_donors, band_h, band_w, 3])."""
        if not isinstance(members, TeethMembers):
            raise TypeError(f"members must be TeethMembers, not {type(members).__name__}")
        err = _err_buffer()
        if lib.ko_utt_tessera_attach(self.ptr, *members.bank_arguments(bank), members.manifest_json.encode(), err,
                                     _ERR_BYTES):
            raise Error(text(err.value))

    def teeth_stats(self):
        applied, refused = ctypes.c_uint64(), ctypes.c_uint64()
        buffer = ctypes.create_string_buffer(512)
        state = lib.ko_utt_tessera_stats(self.ptr, ctypes.byref(applied), ctypes.byref(refused), buffer,
                                         len(buffer))
        return TeethStats(state, applied.value, refused.value, text(buffer.value))

    def teeth_synthesis(self):
        """(mean, max, frames) of the borrow's synthesis weight, or None before its first frame."""
        mean, largest, count = ctypes.c_double(), ctypes.c_double(), ctypes.c_int64()
        if not lib.ko_utt_tessera_synth_w(self.ptr, ctypes.byref(mean), ctypes.byref(largest), ctypes.byref(count)):
            return None
        return mean.value, largest.value, count.value

    def teeth_geometry(self):
        """The compose geometry the borrow was armed with; "" without a borrow."""
        buffer = ctypes.create_string_buffer(256)
        lib.ko_utt_tessera_geometry(self.ptr, buffer, len(buffer))
        return text(buffer.value)
