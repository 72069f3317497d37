// The sizes of a demo identity: the full bundle a viewer looks at, or a small one for tests.
#pragma once

namespace ko::demo {

struct DemoRecipe {
  int NT = 25;   // source frames (and driver movie frames)
  int W = 1280;  // driver frame size
  int H = 720;
  int crop = 512;      // face crop side
  int frames = 125;    // idle-loop rows: 5 s at 25 fps
  int coarse = 64;     // side of the director's coarse displacement grid
  int quantizer = 18;  // the driver movie's H.264 quantizer
  bool teeth = true;   // the teeth members (demo_teeth.h); a crop under 128 cannot tell the bank's
                       // compose geometry from its neighbours, so the miniature goes without
};

inline DemoRecipe fullRecipe() {
  return {};
}

// Crop 64 in a 160 x 96 frame, 4 source frames and 12 idle rows: the same bundle in miniature.
inline DemoRecipe smallRecipe() {
  return {4, 160, 96, 64, 12, 32, 18, false};
}

// The smallest miniature whose teeth bank arms: crop 128 in a 256 x 160 frame.
inline DemoRecipe toothedSmallRecipe() {
  return {4, 256, 160, 128, 12, 32, 18, true};
}

}  // namespace ko::demo
