// Director networks for synthetic bundles, written with the model writer: the inputs and output the
// renderer binds, and a real warp of the prior driven by the keypoints, so a rendered crop depends on
// every input the renderer fills.
//
// The standard director: "P_rgb" -> Mul -> Concat("P_rgb", ·) is the source cone (one Concat reads
// "P_rgb", so the cone can be split off); the grid is the identity grid shifted by
// gain · mean over rows of (kp_driving - kp_source) in x and y; GridSample (bilinear, border,
// align_corners 0) warps the cone's tip, its two halves are mixed and a pooled64 mean brightens the
// result, clipped to 0..1 as "rgb".
//
// The feature-synthesis director reads "fs_red", "pooled", "kd" and "ks" instead: the first three
// channels of fs_red, resized to the crop, take the place of the prior.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/authoring/compose_tail.h"
#include "tools/authoring/model_writer.h"

namespace ko::authoring {

struct DirectorRecipe {
  int crop = 32;
  Dim batch = 1;  // a symbolic batch ("B") is what the renderer must refuse
  bool featSynth = false;
  int kpRows = 21;
  bool secondPriorConcat = false;  // a second Concat reads "P_rgb": the cone cannot be split
  float warpGain = 0.25f;
  // The run fails inside ONNX Runtime when the first driving keypoint value is 7 (a Reshape whose
  // shape comes from it cannot hold the pooled features); other values render as usual.
  bool runFailsAtSeven = false;
  // The result passes through the unified compose tail (tools/authoring/compose_tail.h): the mixed
  // warp inside an ellipse around the lip keypoints, the plain warped prior outside it.
  bool composeTail = false;
};

std::vector<uint8_t> directorModel(const DirectorRecipe& recipe = {});

}  // namespace ko::authoring
