import gc

import numpy as np
import pytest
import subprocess

import ko_core


def test_frames_are_the_bytes_the_c_calls_give(small_bundle, c_frames, tmp_path):
    raw = tmp_path / "c.bin"
    subprocess.run([c_frames, str(small_bundle), "render", str(raw)], check=True, capture_output=True)
    data = raw.read_bytes()
    with ko_core.Session(small_bundle, "render", threads=1) as session:
        crop_bytes = 3 * session.crop * session.crop * 4
        frame_bytes = session.width * session.height * 3
        at = 0
        for t in range(3):
            crop = session.render_drive(t)
            assert crop.shape == (3, session.crop, session.crop) and crop.dtype == np.float32
            assert crop.tobytes() == data[at:at + crop_bytes]
            at += crop_bytes
            frame = session.paste_last(t % session.nt)
            assert frame.shape == (session.height, session.width, 3) and frame.dtype == np.uint8
            assert frame.tobytes() == data[at:at + frame_bytes]
            # Pasting the same crop by hand gives the same frame.
            assert np.array_equal(session.paste(t % session.nt, crop), frame)
            at += frame_bytes
        assert session.target_frame(0).tobytes() == data[at:at + frame_bytes]


def test_returned_arrays_never_change_under_later_calls(small_bundle):
    with ko_core.Session(small_bundle, "render") as session:
        first = session.render_drive(0)
        kept = first.copy()
        frame = session.paste_last(0)
        kept_frame = frame.copy()
        ks = np.zeros(ko_core.KP_VALUES, np.float32)
        kd = np.full(ko_core.KP_VALUES, 0.05, np.float32)
        second = session.render_kp(1, ks, kd)
        session.paste_last(1)
        assert not np.array_equal(second, first)
        assert np.array_equal(first, kept) and np.array_equal(frame, kept_frame)


def test_failures_raise_the_librarys_sentence(small_bundle):
    with pytest.raises(ko_core.Error, match="^ko_create: cannot open /nonexistent/manifest.json$"):
        ko_core.Session("/nonexistent", "render")
    with ko_core.Session(small_bundle, "render") as session:
        calls = [
            (lambda: session.paste_last(0), "ko_paste_last: bad args / no prior render"),
            (lambda: session.render_drive(10**6), "ko_render_drive_crop: bad frame index"),
            (lambda: session.target_frame(-1), "ko_target_frame: bad args"),
            (lambda: session.paste(session.nt + 5, np.zeros((3, session.crop, session.crop), np.float32)),
             "ko_paste_crop: bad args / out too small"),
        ]
        for call, sentence in calls:
            with pytest.raises(ko_core.Error) as raised:
                call()
            assert str(raised.value) == sentence


def test_wrong_arrays_are_refused_before_reaching_c(small_bundle):
    with ko_core.Session(small_bundle, "render") as session:
        kp = np.zeros(ko_core.KP_VALUES, np.float32)
        crop = np.zeros((3, session.crop, session.crop), np.float32)
        wrong = [
            (lambda: session.render_kp(0, kp.astype(np.float64), kp), TypeError, "ks must be float32"),
            (lambda: session.render_kp(0, kp, list(kp)), TypeError, "kd must be a numpy array"),
            (lambda: session.render_kp(0, kp[:60], kp), ValueError, "ks must hold 63"),
            (lambda: session.render_kp(0, np.zeros(126, np.float32)[::2], kp), ValueError, "C-contiguous"),
            (lambda: session.paste(0, crop[:, :-1]), ValueError, "crop must have shape"),
            (lambda: session.paste(0, np.asfortranarray(crop)), ValueError, "C-contiguous"),
            (lambda: ko_core.Session(3, "render"), TypeError, "bundle must be a path"),
        ]
        for call, kind, text in wrong:
            with pytest.raises(kind, match=text):
                call()


def test_handles_close_at_the_end_of_with_and_on_collection(small_bundle):
    with ko_core.Session(small_bundle, "render") as session:
        utterance = ko_core.Utterance(session, small_bundle / "motion")
    # The session closed its pipeline before itself.
    assert session.closed and utterance.closed
    with pytest.raises(ko_core.Error, match="^ko_core: this session is closed$"):
        session.render_drive(0)
    with pytest.raises(ko_core.Error, match="^ko_core: this utterance pipeline is closed$"):
        utterance.push(np.zeros(10, np.int16))

    collected = ko_core.Session(small_bundle, "render")
    pipeline = ko_core.Utterance(collected, small_bundle / "motion")
    session_finalizer, pipeline_finalizer = collected._finalizer, pipeline._finalizer
    del collected
    gc.collect()
    assert session_finalizer.alive  # the pipeline still needs its session
    del pipeline
    gc.collect()
    assert not pipeline_finalizer.alive and not session_finalizer.alive
