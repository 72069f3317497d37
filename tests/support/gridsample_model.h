// One-node ONNX models around a grid sample, for the operator's tests and benchmark: X [N, C, H, W]
// and grid [N, H, W, 2] in, Y out, every dimension symbolic so any shapes (misfit ones too) can be fed.
#pragma once

#include <onnxruntime_cxx_api.h>

#include "tests/support/ort_run.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ko::test {

enum class GridSampleNode {
  standard,  // ONNX GridSample, opset 16: bilinear, padding border, align_corners 0
  fast,      // GridSampleFast of the "com.quandrel" domain
};

std::vector<uint8_t> gridSampleModel(GridSampleNode node);

// Runs a grid-sample model on float tensors of the given shapes; returns Y's values.
std::vector<float> runGridSample(Ort::Session& session, const std::vector<float>& x,
                                 const std::vector<int64_t>& xShape, const std::vector<float>& grid,
                                 const std::vector<int64_t>& gridShape);

}  // namespace ko::test
