// The demo identity's borrowed teeth: a bank of painted open mouths with teeth, at growing apertures,
// placed on the demo face's mouth; a blend head archive and its configuration; and the manifest's
// "tessera" block naming them with the "unified" block that states the compose geometry the bank
// was cut against.
#pragma once

#include <vector>

#include "tools/authoring/bundle_builder.h"
#include "tools/demo/demo_recipe.h"

namespace ko::demo {

inline constexpr int kDemoDonors = 32;

// Adds the four teeth members and both blocks; `idleTargets` are the motion directory's idle
// keypoints, whose compose-mask centroid is the bank's canonical mouth centre.
void addDemoTeeth(authoring::BundleBuilder& bundle, const DemoRecipe& recipe,
                  const std::vector<float>& idleTargets);

}  // namespace ko::demo
