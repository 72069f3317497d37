// ONNX models around the head's ×2 bicubic Resize, for the cubic-resize rewrite's tests and benchmark:
// X [1, C, H, W] → Resize → R → Conv (weight W) → Y, with R and Y both outputs. The batch and spatial
// dimensions are symbolic, so any size can be fed. The defaults make the model the rewrite takes; each
// field varies one thing it looks at.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "graph/onnx_schema.h"
#include "tests/support/authoring.h"

namespace ko::test {

struct CubicHead {
  int64_t opset = 17;
  int64_t channels = 3;
  int64_t group = 1;  // of the Conv reading R, whose weight is [C, C / group, kernel, kernel]
  int64_t kernel = 3;
  int64_t leadingNodes = 0;  // Identity nodes before the Resize, which then sits at this position
  std::string resizeName{};  // none when empty
  std::string domain{};
  std::string mode = "cubic";  // not stated when empty, as the one below
  std::string coordinates = "half_pixel";
  std::optional<float> coefficient{};                        // cubic_coeff_a
  std::vector<std::string> resizeInputs{"X", "", "scales"};  // "X" stands for the Resize's source
  std::vector<float> scales{1, 1, 2, 2};
  std::string consumer = "Conv";  // op_type of the node reading R; none when empty
  int32_t weightType = onnx::kFloat;
  // Called right after the Resize is declared, so attr() lands on it.
  std::function<void(ModelBuilder&)> resizeExtras{};
  // Called last.
  std::function<void(ModelBuilder&)> extras{};
};

std::vector<uint8_t> cubicHeadModel(const CubicHead& head);

}  // namespace ko::test
