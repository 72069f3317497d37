// Writes the fuzz target's starting corpus: small models from the tests' model writer, plus tensors in
// the encodings the writer never uses (float_data, packed dims). Usage: ko_onnx_codec_seeds <dir>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "graph/onnx_write.h"
#include "tests/support/compose_tail_model.h"
#include "tests/support/cubic_head_model.h"
#include "tools/authoring/model_writer.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::ModelBuilder;

Bytes convModel() {
  ModelBuilder m;
  m.input("P_rgb", {1, 3, 8, 8})
      .input("X", {"N", 3, 8, 8})
      .output("Y", {1, 4, 8, 8})
      .valueInfo("S", {1, 3, 8, 8})
      .initializer("W", test::floatTensor({4, 3, 1, 1}, std::vector<float>(12, 0.5f)))
      .node("Add", {"P_rgb", "X"}, {"S"})
      .node("Conv", {"S", "W"}, {"Y"})
      .nodeName("conv")
      .attrInts("kernel_shape", {1, 1})
      .attrInts("pads", {0, 0, 0, 0});
  return m.bytes();
}

// A source cone the split accepts: P_rgb -> Mul -> Concat(P_rgb, ·) -> Add with a second input.
Bytes coneModel() {
  ModelBuilder m;
  m.input("P_rgb", {1, 3, 4, 4})
      .input("X", {1, 6, 4, 4})
      .output("Y", {1, 6, 4, 4})
      .initializer("gain", test::floatTensor({1}, {2.0f}))
      .node("Mul", {"P_rgb", "gain"}, {"M"})
      .node("Concat", {"P_rgb", "M"}, {"tip"})
      .attr("axis", 1)
      .node("Add", {"tip", "X"}, {"Y"});
  return m.bytes();
}

Bytes gridSampleModel() {
  ModelBuilder m;
  m.opset(17)
      .opset(1, "com.quandrel")
      .input("X", {1, 3, 4, 4})
      .input("grid", {1, 4, 4, 2})
      .output("Y", {1, 3, 4, 4})
      .node("GridSample", {"X", "grid"}, {"Y"})
      .attr("mode", "bilinear")
      .attr("padding_mode", "border")
      .attr("align_corners", 0);
  return m.bytes();
}

// A warp block the WarpDirector rewrite accepts: the cone's Concat, a GridSample on a produced grid,
// two Slices and a Sub whose result a Relu reads.
Bytes warpBlockModel() {
  ModelBuilder m;
  m.input("P_rgb", {1, 3, 4, 4})
      .input("g", {1, 4, 4, 2})
      .output("Y", {1, 3, 4, 4})
      .initializer("gain", test::floatTensor({1}, {2.0f}))
      .initializer("zero", test::int64Tensor({1}, {0}))
      .initializer("three", test::int64Tensor({1}, {3}))
      .initializer("six", test::int64Tensor({1}, {6}))
      .initializer("axis", test::int64Tensor({1}, {1}))
      .node("Mul", {"P_rgb", "gain"}, {"M"})
      .node("Concat", {"P_rgb", "M"}, {"tip"})
      .attr("axis", 1)
      .node("Identity", {"g"}, {"grid"})
      .node("GridSample", {"tip", "grid"}, {"S"})
      .attr("mode", "bilinear")
      .attr("padding_mode", "border")
      .node("Slice", {"S", "zero", "three", "axis"}, {"A"})
      .node("Slice", {"S", "three", "six", "axis"}, {"B"})
      .node("Sub", {"A", "B"}, {"E"})
      .node("Relu", {"E"}, {"Y"});
  return m.bytes();
}

Bytes constantModel() {
  ModelBuilder m;
  m.input("X", {2, 3})
      .output("Y", {3, 2})
      .initializer("shape", test::int64Tensor({2}, {3, 2}))
      .node("Reshape", {"X", "shape"}, {"R"})
      .node("Constant", {}, {"C"})
      .attr("value", test::floatTensor({3, 2}, {1, 2, 3, 4, 5, 6}))
      .node("Mul", {"R", "C"}, {"M"})
      .node("LeakyRelu", {"M"}, {"Y"})
      .attr("alpha", 0.25f)
      .attrFloats("unused", {1.0f, 2.0f});
  return m.bytes();
}

// A Constant whose tensor keeps its floats in float_data (packed and unpacked) and its dims packed.
Bytes floatDataModel() {
  Bytes tensor;
  Bytes packedDims;
  gsPutVarint(packedDims, 1);
  gsPutVarint(packedDims, 3);
  gsPutMessage(tensor, onnx::kTensorDims, packedDims);
  gsPutVarintField(tensor, onnx::kTensorDataType, onnx::kFloat);
  const Bytes packed{0, 0, 128, 63, 0, 0, 0, 64};
  gsPutBytes(tensor, onnx::kTensorFloatData, packed.data(), packed.size());
  gsPutKey(tensor, onnx::kTensorFloatData, kGsFixed32);
  gsPutRaw(tensor, packed.data(), 4);
  Bytes attribute;
  gsPutString(attribute, onnx::kAttrName, "value");
  gsPutMessage(attribute, onnx::kAttrT, tensor);
  Bytes attributes;
  gsPutMessage(attributes, onnx::kNodeAttribute, attribute);
  Bytes graph;
  hcNode(graph, "Constant", {}, "C", "const", attributes);
  gsPutTensorValueInfo(graph, onnx::kGraphOutput, "C", nullptr, 2);
  Bytes model;
  gsPutVarintField(model, onnx::kModelIrVersion, 8);
  gsPutMessage(model, onnx::kModelGraph, graph);
  return model;
}

// The student network's blend: a MatMul named "/s2/blend".
Bytes blendModel() {
  ModelBuilder m;
  m.input("A", {"N", 2})
      .output("Y", {"N", 2})
      .initializer("B", test::floatTensor({2, 2}, {1, 2, 3, 4}))
      .node("MatMul", {"A", "B"}, {"Y"})
      .nodeName("/s2/blend");
  return m.bytes();
}

void write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace
}  // namespace ko

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  ko::write(dir / "conv.onnx", ko::convModel());
  ko::write(dir / "cone.onnx", ko::coneModel());
  ko::write(dir / "grid_sample.onnx", ko::gridSampleModel());
  ko::write(dir / "warp_block.onnx", ko::warpBlockModel());
  ko::write(dir / "constant.onnx", ko::constantModel());
  ko::write(dir / "float_data.onnx", ko::floatDataModel());
  ko::write(dir / "cubic_head.onnx", ko::test::cubicHeadModel({.channels = 2, .group = 2, .kernel = 1}));
  ko::write(dir / "student_blend.onnx", ko::blendModel());
  ko::write(dir / "compose_tail.onnx", ko::test::composeTailModel({.side = 4, .passThroughSteps = 1}));
  return 0;
}
