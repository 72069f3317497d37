"""One identity opened for rendering and pasting."""

import ctypes

import numpy as np

from . import _arrays
from ._handle import Handle
from ._library import failure, lib, path

KP_VALUES = lib.ko_host_kp_rows() * 3


class Session(Handle):
    """ko_create: a bundle opened with its director `model` ("model_<model>.onnx").

    Frames are uint8 arrays [H, W, 3]; crops float32 arrays [3, crop, crop] in [0, 1]; keypoints
    float32 arrays of 63 values (21 rows of x, y, z). Every array returned is a copy the session will
    not touch again. One session serves one thread at a time."""

    _kind = "session"

    def __init__(self, bundle, model, threads=0, ep=None):
        pointer = lib.ko_create(path(bundle, "bundle"), path(model, "model"), int(threads),
                                None if ep is None else path(ep, "ep"))
        if not pointer:
            raise failure(lib.ko_last_error)
        super().__init__(pointer, lib.ko_destroy)
        self.width = lib.ko_width(pointer)
        self.height = lib.ko_height(pointer)
        self.crop = lib.ko_crop(pointer)
        self.nt = lib.ko_nt(pointer)
        self.drive_frames = lib.ko_drive_frames(pointer)

    def _keypoints(self, value, what):
        value = _arrays.exact(value, np.float32, None, what)
        if value.size != KP_VALUES:
            raise ValueError(f"{what} must hold {KP_VALUES} float32 values, not {value.size}")
        return value

    def _crop_copy(self, raw):
        if not raw:
            raise failure(lib.ko_last_error)
        return _arrays.copy_out(raw, ctypes.c_float, (3, self.crop, self.crop))

    def _frame_copy(self, raw):
        if not raw:
            raise failure(lib.ko_last_error)
        return _arrays.copy_out(raw, ctypes.c_uint8, (self.height, self.width, 3))

    def render_kp(self, si, ks, kd):
        """The crop of source frame si driven from keypoints ks to kd."""
        ks = self._keypoints(ks, "ks")
        kd = self._keypoints(kd, "kd")
        raw = lib.ko_render_kp_crop(self.ptr, int(si), _arrays.pointer(ks, ctypes.c_float),
                                    _arrays.pointer(kd, ctypes.c_float))
        return self._crop_copy(raw)

    def render_drive(self, row):
        """The crop of row `row` of the bundle's idle-loop tables."""
        return self._crop_copy(lib.ko_render_drive_crop(self.ptr, int(row)))

    def paste(self, row, crop):
        """crop pasted into driver frame `row`."""
        crop = _arrays.exact(crop, np.float32, (3, self.crop, self.crop), "crop")
        frame = np.empty((self.height, self.width, 3), np.uint8)
        if not lib.ko_paste_crop(self.ptr, int(row), _arrays.pointer(crop, ctypes.c_float),
                                 _arrays.pointer(frame, ctypes.c_uint8), frame.nbytes):
            raise failure(lib.ko_last_error)
        return frame

    def paste_last(self, row):
        """The last rendered crop pasted into driver frame `row`."""
        return self._frame_copy(lib.ko_paste_last(self.ptr, int(row)))

    def target_frame(self, row):
        """Driver frame `row` as it is."""
        return self._frame_copy(lib.ko_target_frame(self.ptr, int(row)))
