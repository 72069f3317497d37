#include "tests/support/authoring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/onnx_read.h"
#include "tests/support/ort_run.h"

namespace ko {
namespace {

using test::FloatTensor;
using test::ModelBuilder;
using test::runModel;

std::vector<float> ramp(size_t count, float start, float step) {
  std::vector<float> values(count);
  for (size_t index = 0; index < count; ++index) values[index] = start + step * static_cast<float>(index);
  return values;
}

TEST(WrittenModelsRunInOnnxRuntime, ConvWithInitializerWeightsAndIntAttributes) {
  const std::vector<float> weights = ramp(18, -1.0f, 0.125f);  // [2, 1, 3, 3]
  const std::vector<float> bias{0.5f, -0.25f};
  ModelBuilder m;
  m.opset(17)
      .input("X", {1, 1, 4, 4})
      .output("Y", {1, 2, 2, 2})
      .initializer("W", test::floatTensor({2, 1, 3, 3}, weights))
      .initializer("B", test::floatTensor({2}, bias))
      .node("Conv", {"X", "W", "B"}, {"Y"})
      .nodeName("conv")
      .attrInts("kernel_shape", {3, 3})
      .attrInts("pads", {1, 1, 1, 1})
      .attrInts("strides", {2, 2});
  const FloatTensor x{{1, 1, 4, 4}, ramp(16, 1.0f, 0.5f)};
  const FloatTensor y = runModel(m.bytes(), {{"X", x}}, {"Y"}).at(0);
  ASSERT_EQ(y.shape, (std::vector<int64_t>{1, 2, 2, 2}));
  for (int channel = 0; channel < 2; ++channel) {
    for (int row = 0; row < 2; ++row) {
      for (int col = 0; col < 2; ++col) {
        float expected = bias[channel];
        for (int ky = 0; ky < 3; ++ky) {
          for (int kx = 0; kx < 3; ++kx) {
            const int sy = row * 2 - 1 + ky;
            const int sx = col * 2 - 1 + kx;
            if (sy < 0 || sy >= 4 || sx < 0 || sx >= 4) continue;
            expected += weights[channel * 9 + ky * 3 + kx] * x.values[sy * 4 + sx];
          }
        }
        EXPECT_NEAR(y.values[(channel * 2 + row) * 2 + col], expected, 1e-5f);
      }
    }
  }
}

TEST(WrittenModelsRunInOnnxRuntime, Int64InitializerFloatAndTensorAttributes) {
  ModelBuilder m;
  m.input("X", {2, 3})
      .output("Y", {3, 2})
      .initializer("shape", test::int64Tensor({2}, {3, 2}))
      .node("Reshape", {"X", "shape"}, {"R"})
      .node("LeakyRelu", {"R"}, {"L"})
      .attr("alpha", 0.5f)
      .node("Constant", {}, {"C"})
      .attr("value", test::floatTensor({3, 2}, ramp(6, 10.0f, 1.0f)))
      .node("Constant", {}, {"F"})
      .attrFloats("value_floats", {100.0f, 200.0f})
      .node("Add", {"L", "C"}, {"LC"})
      .node("Add", {"LC", "F"}, {"Y"});
  const FloatTensor x{{2, 3}, ramp(6, -3.0f, 1.0f)};
  const FloatTensor y = runModel(m.bytes(), {{"X", x}}, {"Y"}).at(0);
  ASSERT_EQ(y.shape, (std::vector<int64_t>{3, 2}));
  for (size_t index = 0; index < 6; ++index) {
    const float leaky = x.values[index] < 0 ? 0.5f * x.values[index] : x.values[index];
    EXPECT_EQ(y.values[index],
              leaky + 10.0f + static_cast<float>(index) + (index % 2 == 0 ? 100.0f : 200.0f));
  }
}

TEST(WrittenModels, CarryNodeDomainsAndCustomOpsetImports) {
  ModelBuilder m;
  m.irVersion(9)
      .opset(17)
      .opset(1, "com.quandrel")
      .input("X", {1, "H", "W"})
      .output("Y", {1, "H", "W"})
      .node("GridSampleFast", {"X", "X"}, {"Y"}, "com.quandrel");
  const std::vector<uint8_t> model = m.bytes();
  const GsSlice graph = gsGraphOf(gsSliceOf(model));
  const GsSlice node = gsFirstMsg(graph, onnx::kGraphNode);
  EXPECT_EQ(gsFirstStr(node, onnx::kNodeOpType), "GridSampleFast");
  EXPECT_EQ(gsFirstStr(node, onnx::kNodeDomain), "com.quandrel");
  std::vector<std::string> domains;
  uint64_t irVersion = 0;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field)) {
    if (field.number == onnx::kModelIrVersion) irVersion = field.varint;
    if (field.number == onnx::kModelOpsetImport)
      domains.push_back(gsFirstStr(field.payload, onnx::kOpsetDomain));
  }
  EXPECT_EQ(irVersion, 9u);
  EXPECT_EQ(domains, (std::vector<std::string>{"", "com.quandrel"}));
}

TEST(WrittenModels, CarryMetadataEntriesLastInTheOrderGivenAndStillRun) {
  ModelBuilder m;
  m.input("A", {2}).output("S", {2}).node("Neg", {"A"}, {"S"}).metadata("k", "first").metadata("k", "second");
  const std::vector<uint8_t> model = m.bytes();
  std::vector<uint32_t> numbers;
  std::vector<std::string> entries;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field)) {
    numbers.push_back(field.number);
    if (field.number == onnx::kModelMetadataProps) {
      entries.push_back(gsFirstStr(field.payload, onnx::kEntryKey) + "=" +
                        gsFirstStr(field.payload, onnx::kEntryValue));
    }
  }
  EXPECT_EQ(numbers, (std::vector<uint32_t>{onnx::kModelIrVersion, onnx::kModelProducerName,
                                            onnx::kModelGraph, onnx::kModelOpsetImport,
                                            onnx::kModelMetadataProps, onnx::kModelMetadataProps}));
  EXPECT_EQ(entries, (std::vector<std::string>{"k=first", "k=second"}));
  EXPECT_EQ(runModel(model, {{"A", {{2}, {1.0f, -2.0f}}}}, {"S"}).at(0).values,
            (std::vector<float>{-1.0f, 2.0f}));
}

TEST(WrittenModels, RefuseMisdeclaredTensorsAndAttributesWithoutANode) {
  EXPECT_THROW(test::floatTensor({2, 2}, {1.0f}), std::invalid_argument);
  EXPECT_THROW(ModelBuilder().attr("alpha", 1.0f), std::logic_error);
}

}  // namespace
}  // namespace ko
