#include "graph/int8_conv.h"

#include <onnxruntime_cxx_api.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/int8_conv_kernels.h"
#include "graph/kernel_status.h"
#include "graph/op_refusal.h"
#include "graph/scratch_shelf.h"

namespace ko {
namespace {

constexpr const char* kRefusalPrefix = "Int8ConvVNNI: ";
// Bounds every product and sum of the geometry well inside 64 bits.
constexpr int64_t kMaxAttribute = 65536;
// |q - zp| <= 255 and |w| <= 128, so 65536 products per output keep every 32-bit sum exact.
constexpr int64_t kMaxProducts = 65536;

std::string shapeText(std::span<const int64_t> shape) {
  std::string text = "[";
  for (size_t i = 0; i < shape.size(); ++i) text += (i ? ", " : "") + std::to_string(shape[i]);
  return text + "]";
}

std::vector<int64_t> intsOr(const Ort::ConstKernelInfo& info, const char* name,
                            std::vector<int64_t> fallback) {
  try {
    return info.GetAttributes<int64_t>(name);
  } catch (const Ort::Exception&) {
    return fallback;  // absent: the ONNX Conv default
  }
}

std::vector<int64_t> sized(std::vector<int64_t> values, const char* name, size_t count) {
  if (values.size() != count) {
    refuseOp(kRefusalPrefix, std::string(name) + " must have " + std::to_string(count) + " values, got " +
                                 std::to_string(values.size()));
  }
  return values;
}

Int8ConvAttributes readAttributes(const Ort::ConstKernelInfo& info) {
  const std::vector<int64_t> strides = sized(intsOr(info, "strides", {1, 1}), "strides", 2);
  const std::vector<int64_t> pads = sized(intsOr(info, "pads", {0, 0, 0, 0}), "pads", 4);
  const std::vector<int64_t> dilations = sized(intsOr(info, "dilations", {1, 1}), "dilations", 2);
  int64_t group = 1;
  try {
    group = info.GetAttribute<int64_t>("group");
  } catch (const Ort::Exception&) {
  }
  return {strides[0], strides[1], pads[0], pads[1], pads[2], pads[3], dilations[0], dilations[1], group};
}

int64_t outputSize(int64_t in, int64_t padBefore, int64_t padAfter, int64_t kernel, int64_t dilation,
                   int64_t stride) {
  return (in + padBefore + padAfter - (kernel - 1) * dilation - 1) / stride + 1;
}

struct Int8ConvKernel {
  Int8ConvAttributes attributes;
  bool weightsConstant = false;
  std::once_flag packOnce;
  int8conv::PackedWeights packed;
  ScratchShelf quantizedActivations;

  OrtStatusPtr ComputeV2(OrtKernelContext* raw) noexcept {
    return statusOf([&] { compute(Ort::KernelContext(raw)); });
  }

 private:
  // Constant weights are packed on the first run only; weights fed as a graph input are packed on
  // every run, so new values are never convolved with stale ones.
  const int8conv::PackedWeights& weightsFor(const Ort::ConstValue& weights, const std::vector<int64_t>& shape,
                                            int8conv::PackedWeights& perRun) {
    const auto pack = [&] {
      return int8conv::packWeights(weights.GetTensorData<int8_t>(), shape[0], shape[1], shape[2], shape[3]);
    };
    if (!weightsConstant) return perRun = pack();
    std::call_once(packOnce, [&] { packed = pack(); });
    if (packed.outChannels != shape[0] || packed.inChannels != shape[1] || packed.kernelH != shape[2] ||
        packed.kernelW != shape[3]) {
      refuseOp(kRefusalPrefix, "weights " + shapeText(shape) + " differ from those packed on the first run");
    }
    return packed;
  }

  void compute(Ort::KernelContext context) {
    const Ort::ConstValue x = context.GetInput(0);
    const Ort::ConstValue weights = context.GetInput(1);
    const Ort::ConstValue scales = context.GetInput(2);
    const Ort::ConstValue bias = context.GetInput(3);
    const std::vector<int64_t> xShape = x.GetTensorTypeAndShapeInfo().GetShape();
    const std::vector<int64_t> wShape = weights.GetTensorTypeAndShapeInfo().GetShape();
    checkInt8ConvShapes(attributes, xShape, wShape, scales.GetTensorTypeAndShapeInfo().GetShape(),
                        bias.GetTensorTypeAndShapeInfo().GetShape());
    const Int8ConvAttributes& a = attributes;
    const int8conv::ConvGeometry g{
        xShape[0],
        xShape[1],
        xShape[2],
        xShape[3],
        wShape[0],
        wShape[2],
        wShape[3],
        a.strideH,
        a.strideW,
        a.padTop,
        a.padLeft,
        a.dilationH,
        a.dilationW,
        outputSize(xShape[2], a.padTop, a.padBottom, wShape[2], a.dilationH, a.strideH),
        outputSize(xShape[3], a.padLeft, a.padRight, wShape[3], a.dilationW, a.strideW)};
    Ort::UnownedValue y = context.GetOutput(0, {g.batch, g.outChannels, g.outHeight, g.outWidth});
    if (g.batch == 0) return;
    int8conv::PackedWeights perRun;
    const int8conv::PackedWeights& packedWeights = weightsFor(weights, wShape, perRun);
    const float* xData = x.GetTensorData<float>();
    const auto count = static_cast<size_t>(g.batch * g.inChannels * g.height * g.width);
    const int8conv::Quantization quantization =
        int8conv::quantizationFor(int8conv::activationRange(xData, count));
    ScratchShelf::Loan q = quantizedActivations.borrow(int8conv::quantizedBytes(g));
    int8conv::quantizeInterleaved(xData, g, quantization, q.data());
    const int8conv::ConvJob job{g,
                                q.data(),
                                quantization,
                                &packedWeights,
                                scales.GetTensorData<float>(),
                                bias.GetTensorData<float>(),
                                y.GetTensorMutableData<float>()};
    int8conv::convolve(job, int8conv::bestDotPath());
  }
};

struct Int8ConvOp : Ort::CustomOpBase<Int8ConvOp, Int8ConvKernel, /*WithStatus=*/true> {
  OrtStatusPtr CreateKernelV2(const OrtApi&, const OrtKernelInfo* info, void** kernel) const noexcept {
    *kernel = nullptr;
    return statusOf([&] {
      const Ort::ConstKernelInfo kernelInfo(info);
      auto created = std::make_unique<Int8ConvKernel>();
      created->attributes = readAttributes(kernelInfo);
      checkInt8ConvAttributes(created->attributes);
      int constant = 0;
      kernelInfo.GetTensorConstantInput(1, &constant);
      created->weightsConstant = constant != 0;
      *kernel = created.release();
    });
  }
  const char* GetName() const { return "Int8ConvVNNI"; }
  const char* GetExecutionProviderType() const { return "CPUExecutionProvider"; }
  size_t GetInputTypeCount() const { return 4; }
  ONNXTensorElementDataType GetInputType(size_t index) const {
    return index == 1 ? ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8 : ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
  }
  size_t GetOutputTypeCount() const { return 1; }
  ONNXTensorElementDataType GetOutputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
};

}  // namespace

const OrtCustomOp* int8ConvOp() {
  static const Int8ConvOp op;
  return &op;
}

void checkInt8ConvAttributes(const Int8ConvAttributes& a) {
  const auto within = [](int64_t value, int64_t low) { return value >= low && value <= kMaxAttribute; };
  if (!within(a.strideH, 1) || !within(a.strideW, 1)) {
    refuseOp(kRefusalPrefix,
             "strides must be between 1 and 65536, got " + shapeText(std::vector{a.strideH, a.strideW}));
  }
  if (!within(a.dilationH, 1) || !within(a.dilationW, 1)) {
    refuseOp(kRefusalPrefix, "dilations must be between 1 and 65536, got " +
                                 shapeText(std::vector{a.dilationH, a.dilationW}));
  }
  if (!within(a.padTop, 0) || !within(a.padLeft, 0) || !within(a.padBottom, 0) || !within(a.padRight, 0)) {
    refuseOp(kRefusalPrefix, "pads must be between 0 and 65536, got " +
                                 shapeText(std::vector{a.padTop, a.padLeft, a.padBottom, a.padRight}));
  }
  if (a.group != 1)
    refuseOp(kRefusalPrefix, "group " + std::to_string(a.group) + " is not supported, only group 1");
}

void checkInt8ConvShapes(const Int8ConvAttributes& a, std::span<const int64_t> xShape,
                         std::span<const int64_t> weightShape, std::span<const int64_t> scaleShape,
                         std::span<const int64_t> biasShape) {
  if (xShape.size() != 4) refuseOp(kRefusalPrefix, "X must be 4-D [N, Cin, H, W], got " + shapeText(xShape));
  if (weightShape.size() != 4)
    refuseOp(kRefusalPrefix, "weights must be 4-D [Cout, Cin, KH, KW], got " + shapeText(weightShape));
  for (const int64_t dim : weightShape) {
    if (dim < 1)
      refuseOp(kRefusalPrefix, "weights dimensions must be positive, got " + shapeText(weightShape));
  }
  if (xShape[1] < 1 || xShape[2] < 1 || xShape[3] < 1) {
    refuseOp(kRefusalPrefix, "X's channels, height and width must be positive, got " + shapeText(xShape));
  }
  if (xShape[1] != weightShape[1]) {
    refuseOp(kRefusalPrefix, "X has " + std::to_string(xShape[1]) + " channels, weights expect " +
                                 std::to_string(weightShape[1]));
  }
  const int64_t outChannels = weightShape[0];
  if (scaleShape.size() != 1 || scaleShape[0] != outChannels) {
    refuseOp(kRefusalPrefix,
             "weight scales must be [" + std::to_string(outChannels) + "], got " + shapeText(scaleShape));
  }
  if (biasShape.size() != 1 || biasShape[0] != outChannels) {
    refuseOp(kRefusalPrefix,
             "bias must be [" + std::to_string(outChannels) + "], got " + shapeText(biasShape));
  }
  if (weightShape[2] > kMaxAttribute || weightShape[3] > kMaxAttribute ||
      weightShape[1] * weightShape[2] * weightShape[3] > kMaxProducts) {
    refuseOp(kRefusalPrefix, "weights " + shapeText(weightShape) + " exceed 65536 products per output");
  }
  if (outputSize(xShape[2], a.padTop, a.padBottom, weightShape[2], a.dilationH, a.strideH) < 1 ||
      outputSize(xShape[3], a.padLeft, a.padRight, weightShape[3], a.dilationW, a.strideW) < 1 ||
      xShape[2] + a.padTop + a.padBottom < (weightShape[2] - 1) * a.dilationH + 1 ||
      xShape[3] + a.padLeft + a.padRight < (weightShape[3] - 1) * a.dilationW + 1) {
    refuseOp(kRefusalPrefix, "dilated kernel " + shapeText(weightShape.subspan(2)) +
                                 " is larger than the padded input " + shapeText(xShape.subspan(2)));
  }
}

}  // namespace ko
