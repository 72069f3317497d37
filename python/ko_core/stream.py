"""The offline stream: a whole utterance's audio rendered at once, frame by frame."""

import ctypes
import queue
import threading

import numpy as np

from . import _arrays
from ._handle import Handle
from ._library import Error, FrameCallback, failure, lib, path, text

_QUEUED_FRAMES = 4


class OfflineStream(Handle):
    """ko_stream_create: its own session on the bundle ("model_render.onnx"), the FCA model on
    "fca_stream.onnx" and the 8 s encoder at encoder_path. One run at a time."""

    _kind = "offline stream"

    def __init__(self, bundle, encoder_path, threads=0, skip=0, gain=1.0):
        pointer = lib.ko_stream_create(path(bundle, "bundle"), path(encoder_path, "encoder_path"), int(threads),
                                       int(skip), float(gain))
        if not pointer:
            raise failure(lib.ko_stream_last_error)
        super().__init__(pointer, lib.ko_stream_destroy)
        self.width = lib.ko_stream_width(pointer)
        self.height = lib.ko_stream_height(pointer)
        self._running = threading.Lock()

    def run(self, samples):
        """Renders the utterance (16 kHz mono, floats or int16) and yields its frames in order, each
        a uint8 [H, W, 3] copy. The run goes on a thread of its own, a few frames ahead of the
        consumer; leaving the loop early lets it finish without keeping its frames."""
        samples = _arrays.samples_float32(samples)
        if not self._running.acquire(blocking=False):
            raise Error("ko_core: this offline stream is already running")
        try:
            yield from self._frames(samples)
        finally:
            self._running.release()

    def _frames(self, samples):
        frames = queue.Queue(_QUEUED_FRAMES)
        abandoned = threading.Event()
        done = object()
        outcome = {}

        def offer(item):
            # Waits for room while the consumer still iterates; once it left, the item is dropped.
            while not abandoned.is_set():
                try:
                    frames.put(item, timeout=0.05)
                    return
                except queue.Full:
                    continue

        def deliver(_user, _index, rgb, width, height):
            offer(_arrays.copy_out(rgb, ctypes.c_uint8, (height, width, 3)))

        callback = FrameCallback(deliver)

        def work():
            got = lib.ko_stream_run(self.ptr, _arrays.pointer(samples, ctypes.c_float), samples.size, callback, None)
            outcome["failure"] = text(lib.ko_stream_last_error()) if got < 0 else None
            offer(done)

        worker = threading.Thread(target=work, name="ko_core offline run")
        worker.start()
        try:
            while (frame := frames.get()) is not done:
                yield frame
        finally:
            abandoned.set()
            worker.join()
        if outcome["failure"] is not None:
            raise Error(outcome["failure"])

    def render(self, samples):
        """Every frame of the utterance as one uint8 array [frames, H, W, 3]."""
        frames = list(self.run(samples))
        return np.stack(frames) if frames else np.empty((0, self.height, self.width, 3), np.uint8)
