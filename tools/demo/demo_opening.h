// The mouth's opening shared by the demo identity's audio networks: a leaky integrator of a voicing
// gate, s = tanh(0.6 gate + 0.5 s_prev), and a delta of tanh(s) times a per-value scale. Sustained
// voicing settles s near 0.65, an opening of about 0.6 of the idle loop's widest; in silence s halves
// every frame, so the mouth is shut within about 300 ms.
#pragma once

#include <string>
#include <vector>

#include "tools/authoring/model_writer.h"

namespace ko::demo {

// Adds the nodes from `gate` and `previous` (the last state, same shape) to prefix + "state" and to
// "m" = tanh(state) x scale (one row of 63).
void addMouthOpening(authoring::ModelBuilder& m, const std::string& prefix, const std::string& gate,
                     const std::string& previous, const std::vector<float>& scale);

}  // namespace ko::demo
