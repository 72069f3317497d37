// The demo identity's FCA expression network ("fca_stream.onnx"), designed rather than drawn, so that
// the offline stream opens the demo mouth while speech sounds and closes it in silence.
//
// The features it sees are normalised by a running mean, so their level says little; how fast they
// change says a lot: in digital silence every frame's features are the same, so the seven frames of
// "cond" agree, and in speech they differ from frame to frame. The network takes the mean squared
// difference of neighbouring context frames, squashes it into a gate in [0, 1) and opens the mouth
// with it as the demo's a2x decoder does (demo_opening.h), the integrator kept in the first value of
// the state; the delta is the idle loop's mouth shape scaled by the opening.
#pragma once

#include <cstdint>
#include <vector>

namespace ko::demo {

// The network for a mouth whose fully open delta is `reach` (63 values).
std::vector<uint8_t> demoFcaStream(const std::vector<float>& reach);

}  // namespace ko::demo
