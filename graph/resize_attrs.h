// The attributes of a Resize node that decide whether the head cubic-resize rewrite may replace it.
#pragma once

#include <string>

#include "graph/onnx_wire.h"

namespace ko {

struct HcAttrs {
  std::string mode;  // empty when absent, as are the two below
  std::string coordinateTransformationMode;
  std::string keepAspectRatioPolicy;
  bool hasCubicCoeffA = false;
  float cubicCoeffA = -0.75f;  // Resize's default when absent
  bool hasAxes = false;
  bool excludeOutside = false;  // non-zero
  bool antialias = false;       // non-zero
  // One of the seven attributes stated twice, or holding a value of another type than Resize defines
  // for it: what a runtime makes of such a node is not ours to guess, so no rewrite takes it.
  bool unclear = false;
};

// Reads "mode", "coordinate_transformation_mode", "cubic_coeff_a", "exclude_outside",
// "keep_aspect_ratio_policy", "antialias" and "axes" from a NodeProto (its payload); every other
// attribute is ignored. Malformed bytes throw the wire format's errors (graph/onnx_wire.h).
HcAttrs hcReadAttrs(GsSlice node);

}  // namespace ko
