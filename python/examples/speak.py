#!/usr/bin/env python3
"""Speaks an audio file through the utterance pipeline into an H.264 movie with its sound.

    python3 speak.py BUNDLE AUDIO OUT.mp4 [--motion DIR] [--model render] [--no-teeth]

FFmpeg's command line decodes the audio (any format it reads, to 16 kHz mono) and encodes the frames;
the binding does the rest. Teeth are borrowed when the bundle carries them. The motion directory
defaults to BUNDLE/motion, whose w2v_8s.onnx serves as the speech encoder when W2V_ONNX is unset."""

import argparse
import os
import subprocess

import numpy as np

import ko_core


def read_speech(audio):
    decoded = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", audio, "-ac", "1", "-ar", "16000", "-f", "s16le",
                              "-"], check=True, capture_output=True).stdout
    return np.frombuffer(decoded, np.int16)


def speak(utterance, pcm, encoder):
    """Pushes the whole utterance, then writes every frame up to the end of the blend back to idle."""
    utterance.push(pcm)
    utterance.end()
    spoken = 0
    for frame, info in utterance:
        if info.kind == ko_core.IDLE and spoken == 0:
            continue  # idle frames before the speech starts would put the sound out of step
        encoder.stdin.write(frame.tobytes())
        spoken += 1
        if info.kind == ko_core.IDLE:
            return spoken


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bundle")
    parser.add_argument("audio")
    parser.add_argument("out")
    parser.add_argument("--motion")
    parser.add_argument("--model", default="render")
    parser.add_argument("--no-teeth", action="store_true")
    args = parser.parse_args()
    motion = args.motion or os.path.join(args.bundle, "motion")
    if "W2V_ONNX" not in os.environ and os.path.exists(os.path.join(motion, "w2v_8s.onnx")):
        os.environ["W2V_ONNX"] = os.path.join(motion, "w2v_8s.onnx")
    pcm = read_speech(args.audio)
    with ko_core.Session(args.bundle, args.model) as session, ko_core.Utterance(session, motion) as utterance:
        if not args.no_teeth:
            try:
                utterance.attach_teeth(ko_core.TeethMembers(args.bundle))
                print("teeth armed:", utterance.teeth_geometry())
            except ko_core.Error as refusal:
                print("speaking without teeth:", str(refusal).split(" \u2014 ")[0])
        utterance.wait_ready()
        size = f"{session.width}x{session.height}"
        encoder = subprocess.Popen(["ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24",
                                    "-s", size, "-r", "25", "-i", "-", "-i", args.audio, "-c:v", "libx264",
                                    "-pix_fmt", "yuv420p", "-c:a", "aac", args.out], stdin=subprocess.PIPE)
        frames = speak(utterance, pcm, encoder)
        encoder.stdin.close()
        if encoder.wait() != 0:
            raise SystemExit("ffmpeg could not write " + args.out)
    print(f"wrote {frames} frames ({size}, {len(pcm) / 16000:.2f} s of speech) to {args.out}")


if __name__ == "__main__":
    main()
