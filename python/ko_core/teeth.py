"""A bundle's teeth members: the donor bank and the blend head, for an utterance pipeline's borrow or
the offline teeth pass."""

import ctypes

import numpy as np

from . import _arrays
from ._handle import Handle
from ._library import Error, lib, path, text

_ERR_BYTES = 1024


def _err_buffer():
    return ctypes.create_string_buffer(_ERR_BYTES)


class TeethMembers(Handle):
    """ko_tessera_members_open: the four teeth members of a bundle, cross-checked. The arrays below
    are copies; `bank()` decodes the donor bank with the library's decoder."""

    _kind = "teeth members"

    def __init__(self, bundle):
        err = _err_buffer()
        pointer = lib.ko_tessera_members_open(path(bundle, "bundle"), err, _ERR_BYTES)
        if not pointer:
            raise Error(text(err.value))
        super().__init__(pointer, lib.ko_tessera_members_close)
        n = lib.ko_tessera_members_n_donors(pointer)
        self.n_donors = n
        self.band_w = lib.ko_tessera_members_band_w(pointer)
        self.band_h = lib.ko_tessera_members_band_h(pointer)
        self.cent = _arrays.copy_out(lib.ko_tessera_members_cent(pointer), ctypes.c_double, (n, 2))
        self.c_canon = _arrays.copy_out(lib.ko_tessera_members_c_canon(pointer), ctypes.c_double, (2,))
        self.aperture = _arrays.copy_out(lib.ko_tessera_members_aperture(pointer), ctypes.c_double, (n,))
        self.stamp = _arrays.copy_out(lib.ko_tessera_members_stamp(pointer), ctypes.c_int32, (12,))
        head_len = lib.ko_tessera_members_head_pt_len(pointer)
        self.head_pt = ctypes.string_at(lib.ko_tessera_members_head_pt(pointer), head_len)
        self._head = (ctypes.c_uint8 * head_len).from_buffer_copy(self.head_pt)
        self.head_json = text(lib.ko_tessera_members_head_json(pointer))
        self.manifest_json = text(lib.ko_tessera_members_manifest_json(pointer))

    def bank(self):
        """The donor bank in donor order: uint8 [n_donors, band_h, band_w, 3]."""
        out = np.empty((self.n_donors, self.band_h, self.band_w, 3), np.uint8)
        if out.nbytes != lib.ko_tessera_members_band_bytes(self.ptr):
            raise Error("ko_core: the members' bank size disagrees with its patch sides")
        err = _err_buffer()
        if lib.ko_tessera_members_decode_bank(self.ptr, _arrays.pointer(out, ctypes.c_uint8), out.nbytes, err,
                                              _ERR_BYTES):
            raise Error(text(err.value))
        return out

    def bank_arguments(self, bank):
        """The bank and its arrays as the teeth calls take them, in their order: bank, n_donors,
        cent, c_canon, aperture, stamp, head_pt, head_pt_len, head_json. `bank` None decodes it."""
        bank = self.bank() if bank is None else bank
        bank = _arrays.exact(bank, np.uint8, (self.n_donors, self.band_h, self.band_w, 3), "bank")
        # numpy's ctypes pointers keep their arrays alive, so the temporaries last through the call.
        cent = np.ascontiguousarray(self.cent)
        return (_arrays.pointer(bank, ctypes.c_uint8), self.n_donors, _arrays.pointer(cent, ctypes.c_double),
                _arrays.pointer(self.c_canon, ctypes.c_double), _arrays.pointer(self.aperture, ctypes.c_double),
                _arrays.pointer(self.stamp, ctypes.c_int32), self._head, len(self.head_pt), self.head_json.encode())

    def run(self, crops, masks, shifts=None, bank=None):
        """The offline teeth pass (ko_tessera_run_shift) over crops (uint8 [n, canvas_h, canvas_w, 3])
        and compose masks (uint8 [n, canvas_h, canvas_w]); shifts (int32 [n, 2] of (sy, sx), -10000
        for none) or None to find every mouth in its mask. Returns (windows uint8
        [n, window_h, window_w, 3], skipped bool [n]); a skipped frame's window is zeros."""
        canvas_w, canvas_h, window_w, window_h = (int(self.stamp[i]) for i in (0, 1, 4, 5))
        crops = _arrays.exact(crops, np.uint8, None, "crops")
        n = crops.shape[0] if crops.ndim == 4 else -1
        crops = _arrays.exact(crops, np.uint8, (n, canvas_h, canvas_w, 3), "crops")
        masks = _arrays.exact(masks, np.uint8, (n, canvas_h, canvas_w), "masks")
        if shifts is not None:
            shifts = _arrays.exact(shifts, np.int32, (n, 2), "shifts")
        arguments = self.bank_arguments(bank)
        windows = np.zeros((n, window_h, window_w, 3), np.uint8)
        skipped = np.zeros(n, np.uint32)
        err = _err_buffer()
        failed = lib.ko_tessera_run_shift(
            *arguments, _arrays.pointer(crops, ctypes.c_uint8), _arrays.pointer(masks, ctypes.c_uint8),
            None if shifts is None else _arrays.pointer(shifts, ctypes.c_int32), n,
            _arrays.pointer(windows, ctypes.c_uint8), _arrays.pointer(skipped, ctypes.c_uint32), err, _ERR_BYTES)
        if failed:
            raise Error(text(err.value))
        return windows, skipped.astype(bool)
