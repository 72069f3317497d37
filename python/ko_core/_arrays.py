"""Checks and conversions of the arrays hosts hand in, so that a wrong one raises instead of
reaching C."""

import ctypes

import numpy as np


def _require_array(value, what):
    if not isinstance(value, np.ndarray):
        raise TypeError(f"{what} must be a numpy array, not {type(value).__name__}")


def exact(value, dtype, shape, what):
    """value as it must be passed: this dtype and shape, C-contiguous. A different dtype or shape is
    refused (not converted) so that a mistaken argument cannot pass silently."""
    _require_array(value, what)
    if value.dtype != np.dtype(dtype):
        raise TypeError(f"{what} must be {np.dtype(dtype).name}, not {value.dtype.name}")
    if shape is not None and value.shape != tuple(shape):
        raise ValueError(f"{what} must have shape {tuple(shape)}, not {value.shape}")
    if not value.flags.c_contiguous:
        raise ValueError(f"{what} must be C-contiguous (use numpy.ascontiguousarray)")
    return value


def samples_int16(value, what="pcm"):
    """Mono speech as contiguous int16: int16 as it is, floats in [-1, 1] scaled and clipped."""
    _require_array(value, what)
    if value.ndim != 1:
        raise ValueError(f"{what} must be one-dimensional mono samples, not shape {value.shape}")
    if value.dtype == np.int16:
        return np.ascontiguousarray(value)
    if value.dtype.kind == "f":
        return np.ascontiguousarray(np.clip(np.round(value * 32768.0), -32768, 32767).astype(np.int16))
    raise TypeError(f"{what} must be int16 or floating-point samples, not {value.dtype.name}")


def samples_float32(value, what="samples"):
    """Mono speech as contiguous float32 in [-1, 1]: floats as they are, int16 scaled by 1/32768."""
    _require_array(value, what)
    if value.ndim != 1:
        raise ValueError(f"{what} must be one-dimensional mono samples, not shape {value.shape}")
    if value.dtype == np.int16:
        return (value.astype(np.float32) / 32768.0).astype(np.float32)
    if value.dtype.kind == "f":
        return np.ascontiguousarray(value, dtype=np.float32)
    raise TypeError(f"{what} must be int16 or floating-point samples, not {value.dtype.name}")


def pointer(array, ctype):
    """A C pointer into array's own memory; array must stay alive for the call."""
    return array.ctypes.data_as(ctypes.POINTER(ctype))


def copy_out(raw, ctype, shape):
    """A numpy copy of count C values at raw, so later calls that reuse the library's buffer cannot
    change it."""
    count = int(np.prod(shape))
    view = np.ctypeslib.as_array(ctypes.cast(raw, ctypes.POINTER(ctype)), shape=(count,))
    return view.reshape(shape).copy()
