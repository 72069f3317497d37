import os

import numpy as np
import pytest

import ko_core
from conftest import speech


def test_a2x_serves_one_keypoint_set_per_frame(small_bundle):
    ko_core.preload_speech_encoder(os.environ["W2V_ONNX"])
    with ko_core.A2x(small_bundle / "motion") as a2x:
        a2x.set_eager(2)
        assert a2x.total is None
        a2x.push(speech())
        a2x.finish()
        assert a2x.total == 25
        rows, xs, kp = [], [], []
        while sum(len(r) for r in rows) < 25:
            got = a2x.pull(8)
            rows.append(got[0]), xs.append(got[1]), kp.append(got[2])
        rows, xs, kp = np.concatenate(rows), np.concatenate(xs), np.concatenate(kp)
        assert rows.shape == (25,) and xs.shape == kp.shape == (25, ko_core.KP_VALUES)
        assert np.all((rows >= 0) & (rows < a2x.nt))
        assert not np.array_equal(xs, kp)
        assert a2x.deltas(speech()).shape == (25, ko_core.KP_VALUES)
        a2x.reset(0, 1, loop=False)
        assert a2x.total is None


def test_the_fca_model_and_the_offline_stream(small_bundle):
    encoder = os.environ["W2V_ONNX"]
    with ko_core.Fca(encoder, small_bundle / "fca_stream.onnx") as fca:
        deltas = fca.deltas(speech(0.5))
        assert deltas.shape == (13, ko_core.KP_VALUES) and np.isfinite(deltas).all()
    with ko_core.OfflineStream(small_bundle, encoder) as stream:
        whole = stream.render(speech())
        assert whole.shape == (25, stream.height, stream.width, 3)
        # Leaving a run early lets it finish; the next run is whole and the same.
        for index, frame in enumerate(stream.run(speech())):
            assert np.array_equal(frame, whole[index])
            if index == 2:
                break
        assert np.array_equal(stream.render(speech()), whole)
        assert stream.render((speech() * 32767).astype(np.int16)).shape == whole.shape


def test_audio_refusals_carry_the_librarys_sentence(small_bundle):
    refusals = [
        (lambda: ko_core.A2x("/nonexistent"), "ko_a2x_create: a2x_meta.json missing in /nonexistent"),
        (lambda: ko_core.Motion(small_bundle / "motion"), f"ko_motion_create: cannot open {small_bundle}/motion/meta.json"),
        (lambda: ko_core.Fca(os.environ["W2V_ONNX"], "/nonexistent.onnx"),
         "ko_fca_create: Load model from /nonexistent.onnx failed:Load model /nonexistent.onnx failed. "
         "File doesn't exist"),
    ]
    for call, sentence in refusals:
        with pytest.raises(ko_core.Error) as raised:
            call()
        assert str(raised.value) == sentence
    assert ko_core.resolve_bundle(small_bundle) == str(small_bundle)
    assert ko_core.resolve_member(small_bundle, "M.f32") == f"{small_bundle}/M.f32"
    with pytest.raises(ko_core.Error, match="^ko_bundle_resolve_member: .*/nothing.bin does not open$"):
        ko_core.resolve_member(small_bundle, "nothing.bin")
    with pytest.raises(ValueError, match="one-dimensional"):
        ko_core.A2x(small_bundle / "motion").push(np.zeros((4, 4), np.float32))
