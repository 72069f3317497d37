// The GridSample → GridSampleFast load-time rewrite: the nodes it takes, what the rewritten model
// computes in ONNX Runtime, the models it leaves byte for byte, and malformed input.
#include "graph/gridsample_rewrite.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/graph_probe.h"
#include "tests/support/gridsample_model.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FloatTensor;
using test::ModelBuilder;

// Source features scaled per channel, then warped by two grids as the director does: one node states
// align_corners 0, the other leaves it to the default and names the "ai.onnx" domain. A third warp
// pads with zeros, which the operator does not compute, and must stay standard.
Bytes directorLike(int opset, const char* mode) {
  ModelBuilder m;
  m.opset(opset)
      .input("X", {1, 3, 8, 10})
      .input("gridA", {1, 8, 10, 2})
      .input("gridB", {1, 8, 10, 2})
      .output("Y", {1, 3, 8, 10})
      .output("Z", {1, 3, 8, 10})
      .initializer("gain", test::floatTensor({1, 3, 1, 1}, {0.5f, -1.0f, 2.0f}))
      .node("Mul", {"X", "gain"}, {"S"})
      .node("GridSample", {"S", "gridA"}, {"A"})
      .nodeName("warp_a")
      .attr("mode", mode)
      .attr("padding_mode", "border")
      .attr("align_corners", 0)
      .node("GridSample", {"S", "gridB"}, {"B"}, "ai.onnx")
      .nodeName("warp_b")
      .attr("padding_mode", "border")
      .attr("mode", mode)
      .node("Add", {"A", "B"}, {"Y"})
      .node("GridSample", {"S", "gridA"}, {"Z"})
      .attr("mode", mode)
      .attr("padding_mode", "zeros");
  return m.bytes();
}

Bytes rewritten(Bytes model, size_t expectedCount) {
  EXPECT_EQ(rewriteGridSampleToFast(model), expectedCount);
  return model;
}

TEST(GridSampleRewrite, ComputesWhatTheStandardNodesComputed) {
  std::mt19937 rng(52);
  for (const auto& [opset, mode] : {std::pair{16, "bilinear"}, std::pair{20, "linear"}}) {
    const Bytes model = directorLike(opset, mode);
    const Bytes fast = rewritten(model, 2);
    // Grids reach past [-1, 1] so the border clamp is exercised on every side.
    const test::NamedTensors inputs{{"X", test::uniformTensor({1, 3, 8, 10}, 3.0f, rng)},
                                    {"gridA", test::uniformTensor({1, 8, 10, 2}, 1.6f, rng)},
                                    {"gridB", test::uniformTensor({1, 8, 10, 2}, 1.6f, rng)}};
    const auto expected = test::runModel(model, inputs, {"Y", "Z"});
    const auto actual = test::runModel(fast, inputs, {"Y", "Z"}, test::CustomOps::quandrel);
    for (size_t output = 0; output < expected.size(); ++output) {
      EXPECT_EQ(actual[output].shape, expected[output].shape);
      EXPECT_LE(test::maxAbsDifference(actual[output].values, expected[output].values), 1e-5f)
          << "opset " << opset;
    }
  }
}

TEST(GridSampleRewrite, KeepsEveryOtherFieldOfTheNodesAndTheirOrder) {
  const Bytes model = directorLike(16, "bilinear");
  const std::vector<GsNodeInfo> before = test::nodesOf(model);
  const Bytes fast = rewritten(model, 2);
  const std::vector<GsNodeInfo> after = test::nodesOf(fast);  // its raw spans point into `fast`
  ASSERT_EQ(after.size(), before.size());
  const std::vector<std::string> opTypes{"Mul", "GridSampleFast", "GridSampleFast", "Add", "GridSample"};
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].opType, opTypes[i]);
    EXPECT_EQ(after[i].inputs, before[i].inputs);
    EXPECT_EQ(after[i].outputs, before[i].outputs);
  }
  for (size_t i : {1, 2}) {
    const GsSlice node = hcPayload(after[i].raw);
    EXPECT_EQ(gsFirstStr(node, onnx::kNodeName), i == 1 ? "warp_a" : "warp_b");
    EXPECT_EQ(gsFirstStr(node, onnx::kNodeDomain), "com.quandrel");
    EXPECT_TRUE(gsFirstMsg(node, onnx::kNodeAttribute).empty());
  }
  EXPECT_EQ(test::bytesOf(after[4].raw), test::bytesOf(before[4].raw));
  EXPECT_EQ(rewritten(fast, 0), fast);  // nothing is left to find the second time
}

TEST(GridSampleRewrite, ImportsTheDomainOnceAtVersionOne) {
  EXPECT_EQ(test::quandrelImportVersions(rewritten(directorLike(16, "bilinear"), 2)),
            std::vector<uint64_t>{1});
  ModelBuilder importing;
  importing.opset(16).opset(1, "com.quandrel").input("X", {1, 1, 2, 2}).input("grid", {1, 2, 2, 2});
  importing.output("Y", {1, 1, 2, 2}).node("GridSample", {"X", "grid"}, {"Y"});
  importing.attr("mode", "bilinear").attr("padding_mode", "border");
  EXPECT_EQ(test::quandrelImportVersions(rewritten(importing.bytes(), 1)), std::vector<uint64_t>{1});
}

struct NodeCase {
  const char* domain = "";
  const char* mode = "bilinear";
  const char* padding = "border";
  int alignCorners = -1;  // negative: not stated
  const char* opType = "GridSample";
};

Bytes oneNodeModel(const NodeCase& recipe) {
  ModelBuilder m;
  m.opset(16).input("X", {1, 2, 4, 4}).input("grid", {1, 4, 4, 2}).output("Y", {1, 2, 4, 4});
  m.node(recipe.opType, {"X", "grid"}, {"Y"}, recipe.domain);
  if (recipe.mode != nullptr) m.attr("mode", recipe.mode);
  if (recipe.padding != nullptr) m.attr("padding_mode", recipe.padding);
  if (recipe.alignCorners >= 0) m.attr("align_corners", recipe.alignCorners);
  return m.bytes();
}

TEST(GridSampleRewrite, TakesOnlyNodesTheOperatorComputesExactly) {
  for (const NodeCase& recipe :
       {NodeCase{}, NodeCase{.alignCorners = 0}, NodeCase{.domain = "ai.onnx"}, NodeCase{.mode = "linear"}}) {
    EXPECT_EQ(test::nodesOf(rewritten(oneNodeModel(recipe), 1)).at(0).opType, "GridSampleFast");
  }
  for (const NodeCase& recipe :
       {NodeCase{.padding = "zeros"}, NodeCase{.padding = "reflection"}, NodeCase{.padding = nullptr},
        NodeCase{.alignCorners = 1}, NodeCase{.mode = nullptr}, NodeCase{.mode = "nearest"},
        NodeCase{.mode = "bicubic"}, NodeCase{.domain = "com.other"}, NodeCase{.opType = "GridSampleX"}}) {
    const Bytes model = oneNodeModel(recipe);
    EXPECT_EQ(rewritten(model, 0), model) << "left byte for byte";
  }
  ModelBuilder twice;
  twice.input("X", {1, 1, 2, 2}).input("grid", {1, 2, 2, 2}).output("Y", {1, 1, 2, 2});
  twice.node("GridSample", {"X", "grid"}, {"Y"}).attr("mode", "bilinear").attr("padding_mode", "border");
  twice.attr("padding_mode", "zeros");
  EXPECT_EQ(rewritten(twice.bytes(), 0), twice.bytes());
}

TEST(BakedGridSampleFast, IsANodeOfTheQuandrelDomain) {
  EXPECT_TRUE(graphHasBakedGridSampleFast(test::gridSampleModel(test::GridSampleNode::fast)));
  EXPECT_TRUE(graphHasBakedGridSampleFast(rewritten(directorLike(16, "bilinear"), 2)));
  EXPECT_FALSE(graphHasBakedGridSampleFast(test::gridSampleModel(test::GridSampleNode::standard)));
  EXPECT_FALSE(graphHasBakedGridSampleFast(oneNodeModel({.opType = "GridSampleFast"})));
  EXPECT_FALSE(
      graphHasBakedGridSampleFast(oneNodeModel({.domain = "com.other", .opType = "GridSampleFast"})));
}

TEST(GridSampleRewriteOfMalformedModels, FailWithTheCodecsErrorsAndLeaveTheBytes) {
  const Bytes model = directorLike(16, "bilinear");
  test::expectMalformedModelsFailWithCodecErrors(model,
                                                 [](Bytes& bytes) { return rewriteGridSampleToFast(bytes); });
  const Bytes cut(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(model.size() / 2));
  EXPECT_EQ(test::failureText([&] { graphHasBakedGridSampleFast(cut); }), "onnx: truncated");
}

}  // namespace
}  // namespace ko
