#include "tests/support/cubic_head_model.h"

#include <random>

namespace ko::test {
namespace {

constexpr int32_t kFloat16 = 10;

TensorData convWeight(const CubicHead& head) {
  const std::vector<int64_t> dims{head.channels, head.channels / head.group, head.kernel, head.kernel};
  std::mt19937 rng(56);
  std::uniform_real_distribution<float> value(-0.5f, 0.5f);
  std::vector<float> values(static_cast<size_t>(dims[0] * dims[1] * dims[2] * dims[3]));
  for (float& v : values) v = value(rng);
  TensorData weight = floatTensor(dims, values);
  if (head.weightType == kFloat16)
    weight = TensorData{kFloat16, dims, std::vector<uint8_t>(values.size() * 2)};
  return weight;
}

// Identity nodes from X to the Resize's source, named after their position.
std::string addLeadingNodes(ModelBuilder& m, int64_t count) {
  std::string source = "X";
  for (int64_t index = 0; index < count; ++index) {
    const std::string next = "lead" + std::to_string(index);
    m.node("Identity", {source}, {next});
    source = next;
  }
  return source;
}

void addResize(ModelBuilder& m, const CubicHead& head, const std::string& source) {
  std::vector<std::string> inputs = head.resizeInputs;
  if (!inputs.empty() && inputs[0] == "X") inputs[0] = source;
  m.node("Resize", inputs, {"R"}, head.domain);
  if (!head.resizeName.empty()) m.nodeName(head.resizeName);
  if (!head.mode.empty()) m.attr("mode", head.mode);
  if (!head.coordinates.empty()) m.attr("coordinate_transformation_mode", head.coordinates);
  if (head.coefficient) m.attr("cubic_coeff_a", *head.coefficient);
  if (head.resizeExtras) head.resizeExtras(m);
}

void addConsumer(ModelBuilder& m, const CubicHead& head) {
  if (head.consumer.empty()) return;
  if (head.consumer != "Conv") {
    m.node(head.consumer, {"R"}, {"Y"});
    return;
  }
  const int64_t pad = head.kernel / 2;
  m.node("Conv", {"R", "W"}, {"Y"})
      .attr("group", head.group)
      .attrInts("kernel_shape", {head.kernel, head.kernel})
      .attrInts("pads", {pad, pad, pad, pad});
}

}  // namespace

std::vector<uint8_t> cubicHeadModel(const CubicHead& head) {
  ModelBuilder m;
  m.opset(head.opset)
      .input("X", {"N", head.channels, "H", "W"})
      .output("R", {"N", head.channels, "H2", "W2"})
      .initializer("scales", floatTensor({static_cast<int64_t>(head.scales.size())}, head.scales))
      .initializer("W", convWeight(head));
  if (!head.consumer.empty()) m.output("Y", {"N", "M", "H2", "W2"});
  addResize(m, head, addLeadingNodes(m, head.leadingNodes));
  addConsumer(m, head);
  if (head.extras) head.extras(m);
  return m.bytes();
}

}  // namespace ko::test
