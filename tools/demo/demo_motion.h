// The demo identity's motion directory, "motion/" inside the bundle: what the a2x stream needs to make
// the demo face speak. It holds the synthetic speech encoder (the 8 s network with its window pair,
// so $W2V_ONNX may name motion/w2v_8s.onnx) and the stream's tables and tuned networks (demo_a2x.h).
// The encoder comes from the default speech recipe, the one tests and benchmarks use, so whichever of
// them a process loads first, the demo's networks see the features they were tuned for.
#pragma once

#include <string>
#include <vector>

#include "tools/demo/demo_recipe.h"

namespace ko::demo {

inline constexpr const char* kMotionDir = "motion";

// xs_target.bin's NT rows of 63 values.
std::vector<float> idleTargets(const DemoRecipe& recipe);

// The delta that opens the mouth as wide as the idle loop ever does: 63 values.
std::vector<float> mouthReach();

// Writes the motion directory into dir (created when missing). Throws on failure.
void writeDemoMotion(const DemoRecipe& recipe, const std::string& dir);

}  // namespace ko::demo
