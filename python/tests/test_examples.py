import os
import subprocess
import sys

import numpy as np

from conftest import speech

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
PACKAGE = os.path.join(EXAMPLES, "..")


def run_example(name, *args):
    env = dict(os.environ, PYTHONPATH=PACKAGE)
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *map(str, args)], env=env, check=True,
                          capture_output=True, text=True).stdout


def test_render_idle_writes_one_png_per_idle_row(small_bundle, tmp_path):
    printed = run_example("render_idle.py", small_bundle, tmp_path / "frames")
    pngs = sorted((tmp_path / "frames").iterdir())
    assert len(pngs) == 12 and printed.startswith("wrote 12 frames (160x96)")
    assert all(png.read_bytes().startswith(b"\x89PNG\r\n\x1a\n") for png in pngs)


def test_speak_writes_a_movie_with_teeth_and_sound(toothed_bundle, tmp_path):
    wav = tmp_path / "speech.wav"
    pcm = (speech() * 32767).astype(np.int16)
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "s16le", "-ar", "16000", "-ac", "1", "-i", "-", str(wav)],
                   input=pcm.tobytes(), check=True)
    printed = run_example("speak.py", toothed_bundle, wav, tmp_path / "spoken.mp4")
    assert printed.startswith("teeth armed: corpus pi geometry ")
    probe = subprocess.run(["ffprobe", "-loglevel", "error", "-count_frames", "-show_entries",
                            "stream=codec_type,nb_read_frames", "-of", "csv=p=0", str(tmp_path / "spoken.mp4")],
                           check=True, capture_output=True, text=True).stdout.split()
    video = [line for line in probe if line.startswith("video")]
    # 25 speech frames, the blend and the idle frame that ends it.
    assert video == ["video,32"] and any(line.startswith("audio") for line in probe)
