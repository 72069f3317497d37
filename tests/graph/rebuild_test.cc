#include "graph/rebuild.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_write.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/graph_probe.h"
#include "tests/support/ort_run.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FloatTensor;
using test::runModel;

// X -> Relu -> R -> Neg -> Y, with R described by a value_info.
Bytes chainModel() {
  test::ModelBuilder m;
  m.input("X", {1, 4})
      .output("Y", {1, 4})
      .valueInfo("R", {1, 4})
      .node("Relu", {"X"}, {"R"})
      .node("Neg", {"R"}, {"Y"});
  return m.bytes();
}

// The model with its fields reordered so the graph comes last (the builder writes opset imports after it).
Bytes withGraphLast(const Bytes& model) {
  Bytes others;
  Bytes graph;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field))
    gsPutRaw(field.number == onnx::kModelGraph ? graph : others, field.raw.data, field.raw.size);
  gsPutRaw(others, graph.data(), graph.size());
  return others;
}

Bytes rebuilt(const Bytes& model, const GsGraphEdit& edit) {
  Bytes out;
  gsRebuild(gsSliceOf(model), edit, out);
  return out;
}

const FloatTensor kX{{1, 4}, {-2.0f, -0.5f, 0.5f, 3.0f}};

TEST(RebuildWithoutEdits, ReproducesAModelWhoseGraphIsLastMovesOneThatIsNotAndJoinsAGraphSplitInTwo) {
  const Bytes model = withGraphLast(chainModel());
  EXPECT_EQ(rebuilt(model, {}), model);
  EXPECT_NE(chainModel(), model);
  EXPECT_EQ(rebuilt(chainModel(), {}), model);
  // Protocol buffers merge the two halves; ONNX Runtime sees one graph and so must the rebuild.
  const GsSlice graph = gsGraphOf(gsSliceOf(model));
  GsReader reader(graph);
  GsField firstNode;
  ASSERT_TRUE(reader.next(firstNode));
  Bytes split;
  GsReader modelReader(gsSliceOf(model));
  GsField field;
  while (modelReader.next(field)) {
    if (field.number != onnx::kModelGraph) gsPutRaw(split, field.raw.data, field.raw.size);
  }
  gsPutBytes(split, onnx::kModelGraph, firstNode.raw.data, firstNode.raw.size);
  gsPutBytes(split, onnx::kModelGraph, firstNode.raw.data + firstNode.raw.size,
             graph.size - firstNode.raw.size);
  EXPECT_EQ(runModel(split, {{"X", kX}}, {"Y"}).at(0).values,
            runModel(model, {{"X", kX}}, {"Y"}).at(0).values);
  EXPECT_EQ(rebuilt(split, {}), model);
}

TEST(RebuildEdits, SplitAChainIntoPrepAndPerFrameModelsThatComposeToTheOriginal) {
  const Bytes model = chainModel();
  const std::string hoisted = "R";
  const int64_t dims[] = {1, 4};
  const Bytes keepFirst{0, 1}, dropFirst{1};
  const Bytes prep = rebuilt(model, {.nodeDrops = &keepFirst,
                                     .dropOutputs = true,
                                     .addName = &hoisted,
                                     .addDims = dims,
                                     .addRank = 2,
                                     .addField = onnx::kGraphOutput});
  const Bytes perFrame = rebuilt(model, {.nodeDrops = &dropFirst,
                                         .addName = &hoisted,
                                         .addDims = dims,
                                         .addRank = 2,
                                         .addField = onnx::kGraphInput});
  EXPECT_EQ(test::opTypesOf(prep), std::vector<std::string>{"Relu"});
  EXPECT_EQ(test::opTypesOf(perFrame), std::vector<std::string>{"Neg"});
  std::vector<std::string> valueInfos;
  gsAllStr(gsGraphOf(gsSliceOf(prep)), onnx::kGraphValueInfo, valueInfos);
  EXPECT_TRUE(valueInfos.empty());

  const FloatTensor r = runModel(prep, {{"X", kX}}, {"R"}).at(0);
  const FloatTensor y = runModel(perFrame, {{"X", kX}, {"R", r}}, {"Y"}).at(0);
  EXPECT_EQ(y.values, runModel(model, {{"X", kX}}, {"Y"}).at(0).values);
}

TEST(RebuildEdits, DropFlagsCountEveryNodeAndKeepNodesPastTheirEnd) {
  test::ModelBuilder m;
  m.input("X", {1})
      .output("Y", {1})
      .node("Relu", {"X"}, {"A"})
      .node("Neg", {"A"}, {"B"})
      .node("Abs", {"B"}, {"Y"});
  const Bytes drops{0, 1};
  EXPECT_EQ(test::opTypesOf(rebuilt(m.bytes(), {.nodeDrops = &drops})),
            (std::vector<std::string>{"Relu", "Abs"}));
}

TEST(RebuildEdits, PrgbInputFlags) {
  test::ModelBuilder m;
  m.input("X", {1}).input("P_rgb", {1, 3}).input("P_rgb2", {1}).output("Y", {1}).node("Relu", {"X"}, {"Y"});
  const Bytes model = m.bytes();
  auto inputsAfter = [&](bool drop, bool keepOnly) {
    std::unordered_set<std::string> inputs;
    test::nodesOf(rebuilt(model, {.dropPrgbInput = drop, .keepOnlyPrgbInput = keepOnly}), &inputs);
    return inputs;
  };
  using Names = std::unordered_set<std::string>;
  EXPECT_EQ(inputsAfter(false, false), (Names{"X", "P_rgb", "P_rgb2"}));
  EXPECT_EQ(inputsAfter(true, false), (Names{"X", "P_rgb2"}));
  EXPECT_EQ(inputsAfter(false, true), Names{"P_rgb"});
  EXPECT_TRUE(inputsAfter(true, true).empty());
}

TEST(RebuildEdits, AddedInputWithSymbolicMiddleDimension) {
  const std::string name = "feat";
  const int64_t dims[] = {1, -1, 64};
  const Bytes out =
      rebuilt(chainModel(), {.addName = &name, .addDims = dims, .addRank = 3, .addField = onnx::kGraphInput});
  int64_t first = 0, last = 0, rank = 0;
  ldInputDims(gsGraphOf(gsSliceOf(out)), name, first, last, rank);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 64);
  EXPECT_EQ(rank, 3);
  EXPECT_EQ(rebuilt(chainModel(), {.addName = &name}), rebuilt(chainModel(), {}));
}

Bytes modelAround(const Bytes& graph) {
  Bytes model;
  gsPutVarintField(model, onnx::kModelIrVersion, 8);
  gsPutMessage(model, onnx::kModelGraph, graph);
  return model;
}

TEST(RebuildFailures, MalformedGraphThrowsAndLeavesTheOutputAlone) {
  Bytes graph;
  hcNode(graph, "Relu", {"X"}, "Y", "relu", {});
  Bytes groupStart = graph;
  groupStart.push_back(0x0B);
  Bytes out{1, 2, 3};
  EXPECT_EQ(test::failureText([&] { gsRebuild(gsSliceOf(modelAround(groupStart)), {}, out); }),
            "onnx: bad wire type");
  Bytes cut = graph;
  cut.insert(cut.end(), {0x0A, 0x05, 1, 2, 3, 4});
  EXPECT_EQ(test::failureText([&] { gsRebuild(gsSliceOf(modelAround(cut)), {}, out); }), "onnx: truncated");
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace ko
