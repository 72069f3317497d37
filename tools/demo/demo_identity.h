// The demo identity assembled: the painted face as every source frame's prior, the director, the idle
// loop, the paste transforms and mask, zero-mean pooled features, the lip template (the lip outline and
// the director's compose v2 graph), the driver movie and the motion directory that lets speech drive the
// face, written as a bundle directory. The same recipe gives the same bytes on every run.
#pragma once

#include <string>

#include "tools/authoring/bundle_builder.h"
#include "tools/demo/demo_recipe.h"

namespace ko::demo {

// The model key the bundle's director is stored under ("model_render.onnx", the name the offline
// stream opens).
inline constexpr const char* kDemoModelKey = "render";
inline constexpr const char* kDriverMovie = "target_frames.mp4";

// Everything but the driver movie and the motion directory.
authoring::BundleBuilder demoBundle(const DemoRecipe& recipe);

// Writes the bundle, the driver movie and the motion directory (demo_motion.h) into dir (created when
// missing). Throws on failure.
void writeDemoBundle(const DemoRecipe& recipe, const std::string& dir);

}  // namespace ko::demo
