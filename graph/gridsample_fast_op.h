// The GridSampleFast operator of the "com.quandrel" domain: X [N, C, H, W] and grid [N, H, W, 2] in,
// Y with X's shape out, each image computed by gridsample_fast_band in bands of 16 rows on ONNX
// Runtime's intra-op threads.
#pragma once

#include <cstdint>
#include <span>

struct OrtCustomOp;

namespace ko {

// The operator description, created once per process.
const OrtCustomOp* gridSampleFastOp();

// Throws std::invalid_argument naming the first way the tensors do not fit the operator: ranks,
// the grid's last dimension, batch sizes, the grid's spatial size against X's, or a plane too large
// for the kernel's 32-bit offsets. A graph that arrives with the operator already in it is not
// shaped by our rewrite, so the kernel cannot rely on the graph alone.
void checkGridSampleFastShapes(std::span<const int64_t> xShape, std::span<const int64_t> gridShape);

}  // namespace ko
