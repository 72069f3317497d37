#include "graph/warp_director_op.h"

#include <onnxruntime_cxx_api.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/float_custom_op.h"
#include "graph/grid_shape.h"
#include "graph/kernel_bands.h"
#include "graph/kernel_status.h"
#include "graph/op_refusal.h"
#include "graph/warp_director.h"

namespace ko {
namespace {

constexpr const char* kRefusalPrefix = "com.quandrel::WarpDirector: ";

// One image's pointers for the bands of one pass.
struct WarpImage {
  const float* source;
  const float* grid;
  float* planes;
  float* out;
  int32_t w, h;
};

void planesBand(const WarpImage& image, RowBand band) {
  warpDirectorPlanesBand(image.source, image.planes, image.w, image.h, band.begin, band.end);
}

void gatherBand(const WarpImage& image, RowBand band) {
  warpDirectorGatherBand(image.planes, image.grid, image.out, image.w, image.h, band.begin, band.end);
}

void runPass(Ort::KernelContext& context, const WarpImage& image, void (*pass)(const WarpImage&, RowBand)) {
  runRowBands(context, image.h, [&](RowBand band) { pass(image, band); });
}

// The planes scratch is reused from run to run; the mutex keeps two concurrent runs of one session
// (which ONNX Runtime allows) from sharing it.
struct WarpKernel {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<float> planes;
  std::mutex busy;

  OrtStatusPtr ComputeV2(OrtKernelContext* raw) noexcept {
    return statusOf([&] { compute(Ort::KernelContext(raw)); });
  }

 private:
  void compute(Ort::KernelContext context) {
    const Ort::ConstValue source = context.GetInput(0);
    const Ort::ConstValue grid = context.GetInput(1);
    const std::vector<int64_t> shape = source.GetTensorTypeAndShapeInfo().GetShape();
    checkWarpDirectorShapes(shape, grid.GetTensorTypeAndShapeInfo().GetShape());
    Ort::UnownedValue out = context.GetOutput(0, shape);
    const int64_t n = shape[0], h = shape[2], w = shape[3];
    if (n == 0 || h == 0 || w == 0) return;
    const std::lock_guard<std::mutex> lock(busy);
    resizePlanes(static_cast<int32_t>(w), static_cast<int32_t>(h));
    const size_t imageSize = static_cast<size_t>(kWarpChannels * h * w);
    const size_t gridSize = static_cast<size_t>(h * w * 2);
    for (size_t image = 0; image < static_cast<size_t>(n); ++image) {
      const WarpImage slices{source.GetTensorData<float>() + image * imageSize,
                             grid.GetTensorData<float>() + image * gridSize,
                             planes.data(),
                             out.GetTensorMutableData<float>() + image * imageSize,
                             width,
                             height};
      runPass(context, slices, planesBand);
      runPass(context, slices, gatherBand);
    }
  }

  void resizePlanes(int32_t w, int32_t h) {
    if (w == width && h == height) return;
    planes.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * kWarpPlaneValues);
    width = w;
    height = h;
  }
};

struct WarpOp : FloatCustomOp<WarpOp, WarpKernel> {
  static constexpr const char* kName = "WarpDirector";
  static constexpr const char* kOutOfMemory = "com.quandrel::WarpDirector: out of memory";
  static constexpr size_t kInputs = 2;
};

}  // namespace

const OrtCustomOp* warpDirectorOp() {
  static const WarpOp op;
  return &op;
}

void checkWarpDirectorShapes(std::span<const int64_t> sourceShape, std::span<const int64_t> gridShape) {
  if (sourceShape.size() != 4) {
    refuseOp(kRefusalPrefix, "S must be 4-D [N, 3, H, W], got rank " + std::to_string(sourceShape.size()));
  }
  if (sourceShape[1] != kWarpChannels) {
    refuseOp(kRefusalPrefix, "this node warps the director's 3-channel source and the graph handed it C=" +
                                 std::to_string(sourceShape[1]) +
                                 ". REFUSING rather than writing a frame nobody asked for.");
  }
  checkGridFitsImage(sourceShape, gridShape, "S", kRefusalPrefix);
  const int64_t h = sourceShape[2], w = sourceShape[3];
  if (!gridPlaneFits(h, w)) {
    refuseOp(kRefusalPrefix,
             "S " + planeSizeText(h, w) + " is too large (sides up to 16777216, H*W below 2^31)");
  }
}

}  // namespace ko
