// The room the demo face is pasted into: the driver frames (a gradient wall with a window and a
// shelf, shoulders in a shirt, a neck and the head, face and all, where the rendered face is pasted), the
// paste transform that places the crop above the shoulders with a slight sway per source frame, and the
// feathered paste mask.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/demo/demo_face.h"
#include "tools/demo/demo_recipe.h"

namespace ko::demo {

// Maps crop pixel (x, y) to frame point (a x + b y + c, d x + e y + f): {a, b, c, d, e, f}.
using PasteTransform = std::array<float, 6>;

// Source frame si's transform: the crop scaled to about 57% of the frame's height, centred above the
// shoulders, drifting and turning a little from one source frame to the next.
PasteTransform pasteTransform(const DemoRecipe& recipe, int si);

// Source frame si's key light: it wanders a little around its usual place from frame to frame.
FaceLight sourceLight(const DemoRecipe& recipe, int si);

// The wall alone at frame point (x, y): what lies behind the head.
Rgb wallColour(const DemoRecipe& recipe, double x, double y);

// Driver frame si as packed RGB bytes, W x H.
std::vector<uint8_t> driverFrame(const DemoRecipe& recipe, int si);

// crop x crop alpha bytes: 255 over the head, its hair and the top of the neck, so a swaying head hides
// the frame's own, fading to 0 just inside the crop's edge.
std::string pasteMask(int crop);

}  // namespace ko::demo
