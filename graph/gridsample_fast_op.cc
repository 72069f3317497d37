#include "graph/gridsample_fast_op.h"

#include <onnxruntime_cxx_api.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "graph/float_custom_op.h"
#include "graph/grid_shape.h"
#include "graph/gridsample_fast.h"
#include "graph/kernel_bands.h"
#include "graph/kernel_status.h"
#include "graph/op_refusal.h"

namespace ko {
namespace {

constexpr const char* kRefusalPrefix = "GridSampleFast: ";

// Stateless: the operator has one behaviour and no attributes.
struct GSFKernel {
  OrtStatusPtr ComputeV2(OrtKernelContext* raw) const noexcept {
    return statusOf([&] { compute(Ort::KernelContext(raw)); });
  }

 private:
  static void compute(Ort::KernelContext context) {
    const Ort::ConstValue x = context.GetInput(0);
    const Ort::ConstValue grid = context.GetInput(1);
    const std::vector<int64_t> xShape = x.GetTensorTypeAndShapeInfo().GetShape();
    checkGridSampleFastShapes(xShape, grid.GetTensorTypeAndShapeInfo().GetShape());
    Ort::UnownedValue y = context.GetOutput(0, xShape);
    const int64_t n = xShape[0], c = xShape[1], h = xShape[2], w = xShape[3];
    const size_t imageSize = static_cast<size_t>(c * h * w);
    const size_t gridSize = static_cast<size_t>(h * w * 2);
    if (imageSize == 0) return;
    for (size_t image = 0; image < static_cast<size_t>(n); ++image) {
      const float* xImage = x.GetTensorData<float>() + image * imageSize;
      const float* gridImage = grid.GetTensorData<float>() + image * gridSize;
      float* yImage = y.GetTensorMutableData<float>() + image * imageSize;
      runRowBands(context, h, [&](RowBand band) {
        gridsample_fast_band(xImage, gridImage, yImage, static_cast<int32_t>(c), static_cast<int32_t>(h),
                             static_cast<int32_t>(w), band.begin, band.end);
      });
    }
  }
};

struct GSFOp : FloatCustomOp<GSFOp, GSFKernel> {
  static constexpr const char* kName = "GridSampleFast";
  static constexpr const char* kOutOfMemory = "GridSampleFast: out of memory";
  static constexpr size_t kInputs = 2;
};

}  // namespace

const OrtCustomOp* gridSampleFastOp() {
  static const GSFOp op;
  return &op;
}

void checkGridSampleFastShapes(std::span<const int64_t> xShape, std::span<const int64_t> gridShape) {
  if (xShape.size() != 4)
    refuseOp(kRefusalPrefix, "X must be 4-D [N, C, H, W], got rank " + std::to_string(xShape.size()));
  checkGridFitsImage(xShape, gridShape, "X", kRefusalPrefix);
  const int64_t h = xShape[2], w = xShape[3];
  if (!gridPlaneFits(h, w) || xShape[1] > kGridMaxPlane) {
    refuseOp(kRefusalPrefix, "X " + planeSizeText(h, w) + " with " + std::to_string(xShape[1]) +
                                 " channels is too large (sides up to 16777216, H*W and C below 2^31)");
  }
}

}  // namespace ko
