// Keypoint frames, manifests and compose geometries for the compose-geometry tests, the lip contour
// benchmark and fuzz target: four lip keypoints (rows 0..3 by default) placed around a mouth centre,
// everything else at the crop's centre.
#pragma once

#include <string>
#include <vector>

#include "tessera/unified_pi.h"

namespace ko::tessera::test {

// Corners at (cx -/+ halfW, cy) and lips at (cx, cy -/+ halfH), normalised crop units.
inline std::vector<float> mouthFrame(float cx, float cy, float halfW, float halfH) {
  std::vector<float> kp(kKeypointFloats, 0.0f);
  const float points[4][2] = {{cx - halfW, cy}, {cx + halfW, cy}, {cx, cy - halfH}, {cx, cy + halfH}};
  for (int i = 0; i < 4; ++i) {
    kp[3 * i] = points[i][0];
    kp[3 * i + 1] = points[i][1];
  }
  return kp;
}

inline bool insideBox(const Box& b, int32_t x, int32_t y) {
  return x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1;
}

// The v2 corpus lip geometry over lip rows 0..3 on an N x N canvas.
inline UnifiedPi propPi(int32_t canvas) {
  UnifiedPi pi;
  pi.lip_idx = {0, 1, 2, 3};
  pi.pad_x = 0.1f;
  pi.pad_y = 0.08f;
  pi.down = 0.074f;
  pi.setCanvas(canvas);
  return pi;
}

inline std::string piBlock(const std::string& cornerRecovery = "false") {
  return R"({"mode": "prop", "corner_recovery": )" + cornerRecovery +
         R"(, "prop_gate_scale": 1.25, "lip_idx": [0, 1, 2, 3], "lip_geom_params": [0.1, 0.08, 0.074]})";
}

inline std::string manifestWith(const std::string& pi, const std::string& crop = R"({"canvas": 128})") {
  return R"({"format": "bundle", "unified": {"crop": )" + crop + R"(, "pi": )" + pi + "}}";
}

}  // namespace ko::tessera::test
