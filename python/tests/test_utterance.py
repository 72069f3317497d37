import numpy as np
import pytest

import ko_core
from conftest import speech


def speak(utterance, pcm, blend=6):
    """Pushes one utterance and pulls every frame up to the end of its blend back to idle."""
    utterance.push(pcm)
    utterance.end()
    frames = []
    for frame, info in utterance:
        frames.append((frame, info))
        if sum(i.kind == ko_core.BLEND for _, i in frames) == blend:
            return frames


@pytest.mark.parametrize("pcm", [speech(), (speech() * 32767).astype(np.int16)], ids=["float", "int16"])
def test_a_pipeline_delivers_idle_speech_and_blend_frames(small_bundle, pcm):
    with ko_core.Session(small_bundle, "render") as session:
        with ko_core.Utterance(session, small_bundle / "motion", ramp_frames=6) as utterance:
            utterance.wait_ready()
            idle = utterance.pull(timeout=10)
            assert idle is not None and idle[1].kind == ko_core.IDLE
            assert idle[0].shape == (session.height, session.width, 3)
            frames = speak(utterance, pcm)
            kinds = [info.kind for _, info in frames]
            assert kinds.count(ko_core.SPEECH) == 25
            speech_frames = [info for _, info in frames if info.kind == ko_core.SPEECH]
            assert [info.ordinal for info in speech_frames] == list(range(25))
            seqs = [idle[1].seq] + [info.seq for _, info in frames]
            assert seqs == sorted(seqs) and len(set(seqs)) == len(seqs)
            stats = utterance.stats
            assert stats["frames_delivered"] == len(frames) + 1
            assert stats["speech_frames_delivered"] == 25
            assert utterance.render_status() == (False, 0, "")


def test_pipeline_arguments_are_checked(small_bundle):
    with ko_core.Session(small_bundle, "render") as session:
        with pytest.raises(TypeError, match="unknown utterance option"):
            ko_core.Utterance(session, small_bundle / "motion", ramp=3)
        with ko_core.Utterance(session, small_bundle / "missing") as broken:
            with pytest.raises(ko_core.Error, match="^ko_motion_create: cannot open .*/missing/meta.json$"):
                broken.wait_ready()
        with ko_core.Utterance(session, small_bundle / "motion") as utterance:
            for pcm, kind in [(np.zeros((2, 10), np.int16), ValueError), (np.zeros(10, np.int32), TypeError),
                              ([0, 1], TypeError)]:
                with pytest.raises(kind):
                    utterance.push(pcm)


def test_borrowed_teeth_in_a_speaking_pipeline(toothed_bundle):
    members = ko_core.TeethMembers(toothed_bundle)
    bank = members.bank()
    assert bank.shape == (members.n_donors, members.band_h, members.band_w, 3)
    assert bank.any()
    with ko_core.Session(toothed_bundle, "render") as session:
        with ko_core.Utterance(session, toothed_bundle / "motion") as utterance:
            assert utterance.teeth_stats() == ko_core.TeethStats(0, 0, 0, "")
            utterance.attach_teeth(members, bank)
            assert utterance.teeth_geometry().startswith("corpus pi geometry ")
            utterance.wait_ready()
            frames = speak(utterance, speech())
            rendered = sum(info.kind != ko_core.IDLE for _, info in frames)
            assert utterance.teeth_stats() == ko_core.TeethStats(1, rendered, 0, "")
            assert utterance.teeth_synthesis()[2] == rendered
            with pytest.raises(ValueError, match="bank must have shape"):
                utterance.attach_teeth(members, bank[1:])
            with pytest.raises(TypeError, match="members must be TeethMembers"):
                utterance.attach_teeth(toothed_bundle)


def test_teeth_members_refusals_and_the_offline_pass(small_bundle, toothed_bundle):
    with pytest.raises(ko_core.Error, match=r"^missing teeth member\(s\): bank_track \(tessera_bank.v1.mp4\), "):
        ko_core.TeethMembers(small_bundle)
    with ko_core.TeethMembers(toothed_bundle) as members:
        canvas_w, canvas_h, window_w, window_h = (int(members.stamp[i]) for i in (0, 1, 4, 5))
        crops = np.full((2, canvas_h, canvas_w, 3), 128, np.uint8)
        # A mask without a mouth leaves every frame skipped.
        windows, skipped = members.run(crops, np.zeros((2, canvas_h, canvas_w), np.uint8))
        assert windows.shape == (2, window_h, window_w, 3) and skipped.tolist() == [True, True]
        with pytest.raises(ValueError, match="shifts must have shape"):
            members.run(crops, np.zeros((2, canvas_h, canvas_w), np.uint8), shifts=np.zeros((3, 2), np.int32))
    with pytest.raises(ko_core.Error, match="^ko_core: this teeth members is closed$"):
        members.bank()
