"""Bundle paths: a directory, an IMX container (unpacked once), and members under legacy or current
names."""

import ctypes
import os

from ._library import Error, failure, lib, path

_PATH_BYTES = 4096


def resolve_bundle(bundle):
    """The bundle's directory, unpacking a container if needed."""
    out = ctypes.create_string_buffer(_PATH_BYTES)
    if lib.ko_bundle_resolve_handle(path(bundle, "bundle"), out, _PATH_BYTES) != 1:
        raise failure(lib.ko_last_error)
    return os.fsdecode(out.value)


def resolve_member(bundle, member):
    """The path of one member, asked for by its legacy name; Error when the file does not open."""
    out = ctypes.create_string_buffer(_PATH_BYTES)
    found = lib.ko_bundle_resolve_member(path(bundle, "bundle"), path(member, "member"), out, _PATH_BYTES)
    if found < 0 or (found == 0 and not out.value):
        raise failure(lib.ko_last_error)
    if found == 0:
        raise Error(f"ko_bundle_resolve_member: {os.fsdecode(out.value)} does not open")
    return os.fsdecode(out.value)
