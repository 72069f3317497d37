#include "tests/support/int8_conv_model.h"

#include <random>
#include <string>

#include "tests/support/authoring.h"

namespace ko::test {
namespace {

ModelBuilder convGraph(const Int8ConvCase& c, const std::string& op, const std::string& domain,
                       const TensorData& weights, bool weightsAsInput = false) {
  ModelBuilder m;
  m.opset(17);
  if (!domain.empty()) m.opset(1, domain);
  // Symbolic, so runs on tensors that do not fit reach the operator's own checks.
  m.input("X", {"N", "C", "H", "W"});
  m.output("Y", {"N", c.weightShape[0], "OH", "OW"});
  if (weightsAsInput) {
    m.input("W", {c.weightShape[0], c.weightShape[1], c.weightShape[2], c.weightShape[3]}, weights.elemType);
  } else {
    m.initializer("W", weights);
  }
  m.initializer("B", floatTensor({c.weightShape[0]}, c.bias));
  std::vector<std::string> inputs{"X", "W", "B"};
  if (!domain.empty()) {
    m.initializer("S", floatTensor({c.weightShape[0]}, c.weightScales));
    inputs = {"X", "W", "S", "B"};
  }
  m.node(op, inputs, {"Y"}, domain);
  m.attrInts("strides", c.strides).attrInts("pads", c.pads).attrInts("dilations", c.dilations);
  m.attr("group", c.group);
  return m;
}

}  // namespace

std::vector<int64_t> Int8ConvCase::outShape() const {
  const auto side = [&](size_t axis) {
    const int64_t in = xShape[2 + axis] + pads[axis] + pads[2 + axis];
    return (in - (weightShape[2 + axis] - 1) * dilations[axis] - 1) / strides[axis] + 1;
  };
  return {xShape[0], weightShape[0], side(0), side(1)};
}

std::vector<float> Int8ConvCase::dequantisedWeights() const {
  std::vector<float> values(weights.size());
  const size_t perChannel = weights.size() / weightScales.size();
  for (size_t i = 0; i < values.size(); ++i) values[i] = weights[i] * weightScales[i / perChannel];
  return values;
}

Int8ConvCase randomInt8Conv(std::vector<int64_t> xShape, std::vector<int64_t> weightShape, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> weight(-128, 127);
  std::uniform_real_distribution<float> scale(0.001f, 0.02f), bias(-1.0f, 1.0f);
  Int8ConvCase c{std::move(xShape), std::move(weightShape), {}, {}, {}};
  c.weights.resize(
      static_cast<size_t>(c.weightShape[0] * c.weightShape[1] * c.weightShape[2] * c.weightShape[3]));
  for (int8_t& w : c.weights) w = static_cast<int8_t>(weight(rng));
  for (int64_t co = 0; co < c.weightShape[0]; ++co) {
    c.weightScales.push_back(scale(rng));
    c.bias.push_back(bias(rng));
  }
  return c;
}

std::vector<uint8_t> int8ConvModel(const Int8ConvCase& c, bool weightsAsInput) {
  return convGraph(c, "Int8ConvVNNI", "com.quandrel.int8", int8Tensor(c.weightShape, c.weights),
                   weightsAsInput)
      .bytes();
}

std::vector<uint8_t> floatConvModel(const Int8ConvCase& c) {
  return convGraph(c, "Conv", "", floatTensor(c.weightShape, c.dequantisedWeights())).bytes();
}

}  // namespace ko::test
