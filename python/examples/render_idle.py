#!/usr/bin/env python3
"""Renders a bundle's idle loop to PNG files, one per row of its idle-loop tables.

    python3 render_idle.py BUNDLE OUT_DIR [--model render]

Uses only the binding and the standard library (the PNGs are written by hand with zlib)."""

import argparse
import os
import struct
import zlib

import numpy as np

import ko_core


def write_png(path, rgb):
    """An 8-bit RGB PNG of a uint8 [H, W, 3] array."""
    height, width, _ = rgb.shape
    rows = b"".join(b"\x00" + rgb[y].tobytes() for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(rows, 6)))
        out.write(chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bundle")
    parser.add_argument("out_dir")
    parser.add_argument("--model", default="render", help="director key: the bundle's model_<key>.onnx")
    args = parser.parse_args()
    os.makedirs(args.out_dir, exist_ok=True)
    with ko_core.Session(args.bundle, args.model) as session:
        # Each row of the idle loop plays one source frame, named by the bundle's drive/si.i32.
        sources = np.fromfile(ko_core.resolve_member(args.bundle, "drive/si.i32"), np.int32)
        for row in range(session.drive_frames):
            session.render_drive(row)
            write_png(os.path.join(args.out_dir, f"frame_{row:05d}.png"), session.paste_last(int(sources[row])))
        print(f"wrote {session.drive_frames} frames ({session.width}x{session.height}) to {args.out_dir}")


if __name__ == "__main__":
    main()
