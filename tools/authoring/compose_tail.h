// The unified compose tail a director network ends with: an elliptical alpha around the driving lip
// keypoints,
//   alpha = Clip(gain * (1 - ((x - cx) / rx)^2 - ((y - cy) / ry)^2), 0, 1),
// centred on the mean of the lip rows (x, y at pixel centres in [-1, 1]), and the blend
//   out = Add(Mul(alpha, mouth), Mul(Sub(1, alpha), base)).
// The ellipse over-covers the mouth on purpose; a bundle's lip contour is what narrows it at load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/authoring/model_writer.h"

namespace ko::authoring {

struct ComposeTail {
  int crop = 32;
  std::vector<int64_t> lipRows{6, 7, 8, 9};
  float radiusX = 0.3f;
  float radiusY = 0.22f;
  float edgeGain = 4.0f;  // alpha reaches 1 at sqrt(1 - 1/gain) of the radii
};

// Adds the alpha and the blend over `kd` [B, 21, 3] and the two images [B, 3, crop, crop]. The model
// must already hold the scalar initializers "zero" (0) and "one" (1). Returns the blend's output
// name; the alpha is "compose_alpha".
std::string addComposeTail(ModelBuilder& m, const ComposeTail& tail, const std::string& kd,
                           const std::string& mouth, const std::string& base);

}  // namespace ko::authoring
