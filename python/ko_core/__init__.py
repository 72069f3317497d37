"""libko_core from Python: sessions, the utterance pipeline, the audio models, the offline stream and
teeth borrowing, over the library's C interface (ctypes; no compiled extension).

Every failure raises ko_core.Error with the library's own sentence; every handle is released by
close(), at the end of a with block, or by the garbage collector."""

from ._library import Error
from .audio import A2x, Fca, Motion, preload_speech_encoder
from .bundle import resolve_bundle, resolve_member
from .session import KP_VALUES, Session
from .stream import OfflineStream
from .teeth import TeethMembers
from .utterance import BLEND, IDLE, SPEECH, FrameInfo, TeethStats, Utterance

__all__ = ["Error", "Session", "Utterance", "FrameInfo", "TeethStats", "A2x", "Motion", "Fca", "OfflineStream",
           "TeethMembers", "resolve_bundle", "resolve_member", "preload_speech_encoder", "KP_VALUES", "IDLE", "SPEECH", "BLEND"]
