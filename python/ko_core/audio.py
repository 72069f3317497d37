"""Speech to keypoints: the live a2x and motion streams, and the whole-utterance FCA model."""

import ctypes

import numpy as np

from . import _arrays
from ._handle import Handle
from ._library import failure, lib, path
from .session import KP_VALUES

SAMPLES_PER_FRAME = 640


class _LiveStream(Handle):
    """What the a2x and the motion streams share: push speech, pull per-frame keypoints."""

    _prefix = ""

    def _call(self, name):
        return getattr(lib, f"ko_{self._prefix}_{name}")

    def _fail(self):
        return failure(self._call("last_error"))

    def push(self, samples):
        """Appends 16 kHz mono speech (floats in [-1, 1], or int16)."""
        samples = _arrays.samples_float32(samples)
        if not self._call("push")(self.ptr, _arrays.pointer(samples, ctypes.c_float), samples.size):
            raise self._fail()

    def finish(self):
        """Declares the end of the utterance's audio."""
        if not self._call("finish")(self.ptr):
            raise self._fail()

    @property
    def total(self):
        """Frames of the finished utterance; None before finish()."""
        count = self._call("total")(self.ptr)
        return None if count < 0 else count

    @property
    def avail(self):
        count = self._call("avail")(self.ptr)
        if count < 0:
            raise self._fail()
        return count

    @property
    def nt(self):
        return self._call("nt")(self.ptr)

    def pull(self, max_frames=32):
        """Up to max_frames ready frames: (rows int32 [n], xs float32 [n, 63], kp float32 [n, 63])."""
        if int(max_frames) < 1:
            raise ValueError("max_frames must be at least 1")
        rows = np.empty(int(max_frames), np.int32)
        xs = np.empty((int(max_frames), KP_VALUES), np.float32)
        kp = np.empty_like(xs)
        got = self._call("pull")(self.ptr, _arrays.pointer(rows, ctypes.c_int), _arrays.pointer(xs, ctypes.c_float),
                                 _arrays.pointer(kp, ctypes.c_float), int(max_frames))
        if got < 0 or (got == 0 and self._call("last_error")()):
            raise self._fail()
        return rows[:got].copy(), xs[:got].copy(), kp[:got].copy()

    def set_eager(self, value):
        """How much new audio makes a live pull run the networks (frames; below 1: automatic)."""
        self._call("set_eager")(self.ptr, int(value))

    def reset(self, start=0, direction=1, loop=True):
        """Starts a new utterance at row `start`, walking forward (direction >= 0) or back, wrapping
        at the table's ends when loop, else bouncing."""
        if not self._call("reset")(self.ptr, int(start), int(direction), 1 if loop else 0):
            raise self._fail()


class A2x(_LiveStream):
    """ko_a2x_create: the streaming audio-to-expression model of an a2x directory (or bundle)."""

    _kind = "a2x stream"
    _prefix = "a2x"

    def __init__(self, bundle, threads=0):
        pointer = lib.ko_a2x_create(path(bundle, "bundle"), int(threads))
        if not pointer:
            raise failure(lib.ko_a2x_last_error)
        super().__init__(pointer, lib.ko_a2x_destroy)

    def deltas(self, samples):
        """Whole-utterance expression deltas, float32 [frames, 63]; the live utterance is untouched."""
        return _deltas(lambda *args: lib.ko_a2x_deltas(self.ptr, *args), samples, lib.ko_a2x_last_error)


class Motion(_LiveStream):
    """ko_motion_create: the audio-to-motion model of a motion directory."""

    _kind = "motion stream"
    _prefix = "motion"

    def __init__(self, motion_dir, threads=0, ep=None):
        pointer = lib.ko_motion_create(path(motion_dir, "motion_dir"), int(threads),
                                       None if ep is None else path(ep, "ep"))
        if not pointer:
            raise failure(lib.ko_motion_last_error)
        super().__init__(pointer, lib.ko_motion_destroy)


class Fca(Handle):
    """ko_fca_create: the 8 s speech encoder and an expression network (a bundle's fca_stream.onnx)."""

    _kind = "FCA model"

    def __init__(self, encoder_path, model_path, threads=0):
        pointer = lib.ko_fca_create(path(encoder_path, "encoder_path"), path(model_path, "model_path"),
                                    int(threads))
        if not pointer:
            raise failure(lib.ko_fca_last_error)
        super().__init__(pointer, lib.ko_fca_destroy)

    def deltas(self, samples):
        """The expression delta of every frame, float32 [frames, 63]."""
        return _deltas(lambda *args: lib.ko_fca_deltas(self.ptr, *args), samples, lib.ko_fca_last_error)


def preload_speech_encoder(encoder_path=None):
    """Loads the process-wide 8 s speech encoder now (None: $W2V_ONNX) instead of at the first
    stream that needs it; the first one loaded serves the whole process."""
    if not lib.ko_a2x_preload_w2v(None if encoder_path is None else path(encoder_path, "encoder_path")):
        raise failure(lib.ko_a2x_last_error)


def _deltas(call, samples, last_error):
    samples = _arrays.samples_float32(samples)
    frames = -(-samples.size // SAMPLES_PER_FRAME)
    out = np.zeros((max(frames, 1), KP_VALUES), np.float32)
    got = call(_arrays.pointer(samples, ctypes.c_float), samples.size, _arrays.pointer(out, ctypes.c_float), frames)
    if got < 0:
        raise failure(last_error)
    return out[:got].copy()
