#include "graph/onnx_read.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"
#include "graph/onnx_write.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;

// The payload of the only field `buffer` holds.
GsSlice only(const Bytes& buffer) {
  return hcPayload(gsSliceOf(buffer));
}

std::vector<GsSlice> messagesOf(GsSlice message, uint32_t number) {
  std::vector<GsSlice> found;
  GsReader reader(message);
  GsField field;
  while (reader.next(field)) {
    if (field.number == number && field.wireType == kGsLengthDelimited) found.push_back(field.payload);
  }
  return found;
}

Bytes floatBytes(const std::vector<float>& values) {
  Bytes raw;
  for (float value : values) {
    const auto bits = std::bit_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) raw.push_back(static_cast<uint8_t>(bits >> shift));
  }
  return raw;
}

TEST(TensorValueInfoWriter, FixedDimsAsValuesOthersAsHoistParamsAsInputDimsReadThem) {
  const int64_t dims[] = {1, -1, 64};
  Bytes graph;
  gsPutTensorValueInfo(graph, onnx::kGraphInput, "feat", dims, 3);
  const GsSlice info = only(graph);
  EXPECT_EQ(gsFirstStr(info, onnx::kValueInfoName), "feat");
  const GsSlice tensorType = gsFirstMsg(gsFirstMsg(info, onnx::kValueInfoType), onnx::kTypeTensorType);
  GsReader typeReader(tensorType);
  GsField elemType;
  ASSERT_TRUE(typeReader.next(elemType));
  EXPECT_EQ(elemType.number, onnx::kTensorTypeElemType);
  EXPECT_EQ(elemType.varint, 1u);
  const std::vector<GsSlice> shape =
      messagesOf(gsFirstMsg(tensorType, onnx::kTensorTypeShape), onnx::kShapeDim);
  ASSERT_EQ(shape.size(), 3u);
  Bytes expected;
  gsPutVarintField(expected, onnx::kDimValue, 1);
  gsPutString(expected, onnx::kDimParam, "ko_hoist_d1");
  gsPutVarintField(expected, onnx::kDimValue, 64);
  Bytes written;
  for (GsSlice dim : shape) gsPutRaw(written, dim.data, dim.size);
  EXPECT_EQ(written, expected);

  // The input's first and last dims and its rank; symbolic ends, and an absent input, read as zero.
  gsPutTensorValueInfo(graph, onnx::kGraphInput, "x", nullptr, 2);
  for (const auto& [name, want] :
       {std::pair{"feat", std::array<int64_t, 3>{1, 64, 3}}, {"x", {0, 0, 2}}, {"y", {0, 0, 0}}}) {
    std::array<int64_t, 3> read{-7, -7, -7};
    ldInputDims(gsSliceOf(graph), name, read[0], read[1], read[2]);
    EXPECT_EQ(read, want) << name;
  }
}

TEST(TensorFloats, ComeFromRawDataInWholeValuesElseFromFloatDataOnlyForFloatTensors) {
  Bytes raw = floatBytes({1.5f});
  raw.insert(raw.end(), {9, 9, 9});
  Bytes graph;
  hcInit(graph, "w", onnx::kFloat, {1}, raw.data(), raw.size());
  std::vector<float> values;
  EXPECT_TRUE(hcTensorFloats(only(graph), values));
  EXPECT_EQ(values, std::vector<float>{1.5f});

  const int64_t ints[] = {1, 2};
  Bytes intGraph;
  hcInit(intGraph, "i", onnx::kInt64, {2}, ints, sizeof ints);
  EXPECT_FALSE(hcTensorFloats(only(intGraph), values));
  EXPECT_TRUE(values.empty());
  // Without raw data, from float_data, packed or not.
  Bytes tensor;
  gsPutVarintField(tensor, onnx::kTensorDataType, onnx::kFloat);
  const Bytes packed = floatBytes({2.0f, -3.0f});
  gsPutBytes(tensor, onnx::kTensorFloatData, packed.data(), packed.size());
  gsPutKey(tensor, onnx::kTensorFloatData, kGsFixed32);
  const Bytes single = floatBytes({0.25f});
  gsPutRaw(tensor, single.data(), single.size());
  EXPECT_TRUE(hcTensorFloats(gsSliceOf(tensor), values));
  EXPECT_EQ(values, (std::vector<float>{2.0f, -3.0f, 0.25f}));
}

TEST(TensorDims, PackedAndUnpackedInOrder) {
  Bytes tensor;
  gsPutVarintField(tensor, onnx::kTensorDims, 2);
  Bytes packed;
  gsPutVarint(packed, 3);
  gsPutVarint(packed, 300);
  gsPutMessage(tensor, onnx::kTensorDims, packed);
  std::vector<int64_t> dims{99};
  hcTensorDims(gsSliceOf(tensor), dims);
  EXPECT_EQ(dims, (std::vector<int64_t>{2, 3, 300}));
}

TEST(ConstValue, IsTheTensorOfTheAttributeNamedValue) {
  Bytes tensorGraph;
  const float weight = 4.0f;
  hcInit(tensorGraph, "", onnx::kFloat, {1}, &weight, sizeof weight);
  Bytes attributes;
  hcAttrI(attributes, "axis", 1);
  Bytes valueAttribute;
  gsPutString(valueAttribute, onnx::kAttrName, "value");
  gsPutMessage(valueAttribute, onnx::kAttrT,
               Bytes(only(tensorGraph).data, only(tensorGraph).data + only(tensorGraph).size));
  gsPutMessage(attributes, onnx::kNodeAttribute, valueAttribute);
  Bytes graph;
  hcNode(graph, "Constant", {}, "c", "c_node", attributes);
  std::vector<float> values;
  EXPECT_TRUE(hcTensorFloats(hcConstValue(only(graph)), values));
  EXPECT_EQ(values, std::vector<float>{4.0f});

  Bytes plain;
  hcNode(plain, "Relu", {"x"}, "y", "relu", {});
  EXPECT_TRUE(hcConstValue(only(plain)).empty());
}

TEST(GraphReading, NodesInitializersAndInputsInOnePass) {
  Bytes attributes;
  hcAttrS(attributes, "bilinear");
  const int64_t pads[] = {1, 1, 1, 1};
  hcAttrIs(attributes, "pads", pads, 4);
  Bytes graph;
  gsPutTensorValueInfo(graph, onnx::kGraphInput, "X", nullptr, 4);
  hcNode(graph, "GridSample", {"X", "grid"}, "Y", "gs", attributes);
  const float w = 1.0f;
  hcInit(graph, "grid", onnx::kFloat, {1}, &w, sizeof w);
  hcNode(graph, "Relu", {"Y"}, "Z", "relu", {});
  std::vector<GsNodeInfo> nodes(5);
  std::unordered_set<std::string> initializers;
  std::unordered_set<std::string> inputs;
  gsReadGraph(gsSliceOf(graph), nodes, initializers, inputs);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].opType, "GridSample");
  EXPECT_EQ(nodes[0].inputs, (std::vector<std::string>{"X", "grid"}));
  EXPECT_EQ(nodes[0].outputs, std::vector<std::string>{"Y"});
  EXPECT_EQ(nodes[1].opType, "Relu");
  EXPECT_EQ(initializers, std::unordered_set<std::string>{"grid"});
  EXPECT_EQ(inputs, std::unordered_set<std::string>{"X"});

  const GsSlice node = hcPayload(nodes[0].raw);
  EXPECT_EQ(gsFirstStr(node, onnx::kNodeName), "gs");
  const std::vector<GsSlice> attrs = messagesOf(node, onnx::kNodeAttribute);
  ASSERT_EQ(attrs.size(), 2u);
  EXPECT_EQ(gsFirstStr(attrs[0], onnx::kAttrName), "mode");
  EXPECT_EQ(gsFirstStr(attrs[0], onnx::kAttrS), "bilinear");
  std::vector<std::string> names;
  gsAllStr(attrs[1], onnx::kAttrName, names);
  EXPECT_EQ(names, std::vector<std::string>{"pads"});
}

}  // namespace
}  // namespace ko
