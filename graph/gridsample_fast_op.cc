#include "graph/gridsample_fast_op.h"

#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/gridsample_fast.h"
#include "graph/kernel_status.h"

namespace ko {
namespace {

constexpr int64_t kBandRows = 16;
// Tap positions are clamped as floats before they become integers: every side length up to 2^24
// converts exactly, and plane offsets are 32-bit.
constexpr int64_t kMaxSide = int64_t{1} << 24;
constexpr int64_t kMaxPlane = std::numeric_limits<int32_t>::max();

[[noreturn]] void refuse(const std::string& why) {
  throw std::invalid_argument("GridSampleFast: " + why);
}

std::string sizeText(int64_t h, int64_t w) {
  return std::to_string(h) + "x" + std::to_string(w);
}

// One image's slices; band b covers output rows [16b, 16b + 16). The thread pool of ONNX Runtime
// hands tasks over with synchronisation that ThreadSanitizer cannot see (the library is not
// instrumented), so `bandsDone` carries the hand-over explicitly: published with release before the
// bands run, acquired by each band before it reads, released by each band after it writes, and
// acquired again once they have all returned. One atomic per 16 rows costs nothing measurable.
struct ImageBands {
  const float* x;
  const float* grid;
  float* y;
  int32_t c, h, w;
  std::atomic<size_t> bandsDone{0};
};

void runBand(void* data, size_t band) {
  auto& image = *static_cast<ImageBands*>(data);
  image.bandsDone.load(std::memory_order_acquire);
  const auto begin = static_cast<int32_t>(static_cast<int64_t>(band) * kBandRows);
  gridsample_fast_band(image.x, image.grid, image.y, image.c, image.h, image.w, begin,
                       static_cast<int32_t>(std::min<int64_t>(begin + kBandRows, image.h)));
  image.bandsDone.fetch_add(1, std::memory_order_release);
}

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
    const size_t bands = static_cast<size_t>((h + kBandRows - 1) / kBandRows);
    if (imageSize == 0 || bands == 0) return;
    for (size_t image = 0; image < static_cast<size_t>(n); ++image) {
      ImageBands task{x.GetTensorData<float>() + image * imageSize,
                      grid.GetTensorData<float>() + image * gridSize,
                      y.GetTensorMutableData<float>() + image * imageSize,
                      static_cast<int32_t>(c),
                      static_cast<int32_t>(h),
                      static_cast<int32_t>(w)};
      task.bandsDone.store(0, std::memory_order_release);
      context.ParallelFor(runBand, bands, 0, &task);
      task.bandsDone.load(std::memory_order_acquire);
    }
  }
};

struct GSFOp : Ort::CustomOpBase<GSFOp, GSFKernel, /*WithStatus=*/true> {
  OrtStatusPtr CreateKernelV2(const OrtApi&, const OrtKernelInfo*, void** kernel) const noexcept {
    *kernel = new (std::nothrow) GSFKernel;
    return *kernel ? nullptr : Ort::Status("GridSampleFast: out of memory", ORT_FAIL).release();
  }
  const char* GetName() const { return "GridSampleFast"; }
  const char* GetExecutionProviderType() const { return "CPUExecutionProvider"; }
  size_t GetInputTypeCount() const { return 2; }
  ONNXTensorElementDataType GetInputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
  size_t GetOutputTypeCount() const { return 1; }
  ONNXTensorElementDataType GetOutputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
};

}  // namespace

const OrtCustomOp* gridSampleFastOp() {
  static const GSFOp op;
  return &op;
}

void checkGridSampleFastShapes(std::span<const int64_t> xShape, std::span<const int64_t> gridShape) {
  if (xShape.size() != 4) refuse("X must be 4-D [N, C, H, W], got rank " + std::to_string(xShape.size()));
  if (gridShape.size() != 4) {
    refuse("grid must be 4-D [N, H, W, 2], got rank " + std::to_string(gridShape.size()));
  }
  if (gridShape[3] != 2) refuse("grid's last dimension must be 2, got " + std::to_string(gridShape[3]));
  if (gridShape[0] != xShape[0]) {
    refuse("grid batch " + std::to_string(gridShape[0]) + " differs from X batch " +
           std::to_string(xShape[0]));
  }
  const int64_t h = xShape[2], w = xShape[3];
  if (gridShape[1] != h || gridShape[2] != w) {
    refuse("grid spatial size " + sizeText(gridShape[1], gridShape[2]) + " differs from X's " +
           sizeText(h, w));
  }
  if (h > kMaxSide || w > kMaxSide || h * w > kMaxPlane || xShape[1] > kMaxPlane) {
    refuse("X " + sizeText(h, w) + " with " + std::to_string(xShape[1]) +
           " channels is too large (sides up to 16777216, H*W and C below 2^31)");
  }
}

}  // namespace ko
