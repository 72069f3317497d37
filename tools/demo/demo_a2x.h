// The demo identity's audio-to-keypoint pair, designed rather than drawn, so that its mouth opens
// while speech sounds and closes in silence.
//
// The shared speech trunk divides every step by the step's own deviation, so its features keep no
// level above a floor some 60 dB under the window's: they sit exactly on the head's silent row in
// digital silence and O(1) away from it whenever anything sounds. The encoder therefore takes a
// frame's voicing as its mean squared distance from that row, squashed into a gate in [0, 1), and
// averages the gate over the mask's band once per layer: the opening grows with the share of sounding
// frames around a frame, ramping up through an onset, holding on a sustained vowel, ramping down
// into a pause. Its hidden row is that one value (plus the all-zero position table).
//
// The decoder's one state value is a leaky integrator, s = tanh(a ctx + c s_prev), which softens the
// ramps and lets the mouth settle rather than snap shut. Each keypoint value the idle loop moves with
// the mouth comes out as m = sign * tanh(s) and every other as 0; the norm table's stds hold each
// value's full reach and its means are 0, so the delta is the idle loop's mouth shape scaled by
// tanh(s) < tanh(1): never wider than the director renders in the idle loop, and exactly zero when s is.
#pragma once

#include <vector>

#include "tools/authoring/speech_models.h"

namespace ko::demo {

// The pair's shape as a2x_meta.json declares it.
authoring::MotionDirRecipe demoA2xShape();

// Every member but xs_target.bin, for features whose silent row is `silenceRow` (one feature row of
// floats) and a mouth whose fully open delta is `reach` (63 values).
authoring::A2xMotionFiles demoA2xFiles(const std::vector<float>& silenceRow, const std::vector<float>& reach);

}  // namespace ko::demo
