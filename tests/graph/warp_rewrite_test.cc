// The WarpDirector load-time rewrite: the block it finds, the graph it leaves, what the rewritten model
// computes in ONNX Runtime, and every graph it declines, byte for byte.
#include "graph/warp_rewrite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/graph_probe.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"
#include "tests/support/warp_block_model.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FloatTensor;
using test::WarpBlockOptions;

TEST(WarpBlockSearch, FindsTheBlockOfADirectorLikeGraph) {
  for (const char* op : {"GridSample", "GridSampleFast"}) {
    WarpBlock block;
    std::string reason = "stale";
    EXPECT_EQ(findWarpBlock(test::warpBlockModel({.gridSampleOp = op}), &block, reason),
              test::kWarpBlockNodes);
    EXPECT_EQ(reason, "");
    EXPECT_EQ(block.tip, test::kWarpTip);
    EXPECT_EQ(block.grid, test::kWarpGrid);
    EXPECT_EQ(block.exit, test::kWarpExit);
    EXPECT_EQ(block.nodes, static_cast<int64_t>(test::kWarpBlockNodes));
  }
}

TEST(WarpBlockRewrite, ReplacesTheConeAndTheBlockByOneNodeInItsPlace) {
  const Bytes original = test::warpBlockModel();
  Bytes model = original;
  std::string reason;
  ASSERT_EQ(rewriteWarpBlockToCustomOp(model, reason), test::kWarpBlockNodes + test::kWarpConeNodes)
      << reason;
  EXPECT_EQ(reason, "");
  const std::vector<GsNodeInfo> before = test::nodesOf(original);
  const std::vector<GsNodeInfo> after = test::nodesOf(model);
  ASSERT_EQ(after.size(), before.size() - test::kWarpBlockNodes - test::kWarpConeNodes + 1);
  // Every other node stays, byte for byte and in order, and the new node stands where the GridSample
  // stood.
  const std::unordered_set<std::string> removed{"padded", "d_xx", "d_yy", "d_xxyy", "tip", "sampled",
                                                "F",      "Fxx",  "Fyy",  "Fxxyy",  "a",   "b",
                                                "c",      "d",    "e",    "exit"};
  std::vector<Bytes> kept;
  for (const GsNodeInfo& node : before) {
    if (node.opType == "GridSample") kept.emplace_back();  // the new node's place
    if (!removed.contains(node.outputs.at(0)))
      kept.emplace_back(node.raw.data, node.raw.data + node.raw.size);
  }
  ASSERT_EQ(kept.size(), after.size());
  const std::vector<std::string> types = test::opTypesOf(after);
  const auto director = std::find(types.begin(), types.end(), "WarpDirector");
  ASSERT_NE(director, types.end());
  for (size_t i = 0; i < after.size(); ++i) {
    if (i == static_cast<size_t>(director - types.begin())) {
      EXPECT_TRUE(kept[i].empty()) << i;
    } else {
      EXPECT_EQ(Bytes(after[i].raw.data, after[i].raw.data + after[i].raw.size), kept[i]) << i;
    }
  }
  const GsNodeInfo& node = *(after.begin() + (director - types.begin()));
  EXPECT_EQ(node.inputs, (std::vector<std::string>{"P_rgb", test::kWarpGrid}));
  EXPECT_EQ(node.outputs, std::vector<std::string>{test::kWarpExit});
  const GsSlice body = hcPayload(node.raw);
  EXPECT_EQ(gsFirstStr(body, onnx::kNodeName), "ko_warp_director");
  EXPECT_EQ(gsFirstStr(body, onnx::kNodeDomain), "com.quandrel");
  EXPECT_TRUE(gsFirstMsg(body, onnx::kNodeAttribute).empty());
  EXPECT_EQ(test::quandrelImportVersions(model).size(), 1u);
  // A model that already imports the domain keeps its one import.
  Bytes baked = test::warpBlockModel({.gridSampleOp = "GridSampleFast"});
  ASSERT_EQ(rewriteWarpBlockToCustomOp(baked, reason), test::kWarpBlockNodes + test::kWarpConeNodes)
      << reason;
  EXPECT_EQ(test::quandrelImportVersions(baked).size(), 1u);
}

// The rewritten model computes exactly the kernel on P_rgb and the grid; the standard block computes
// the same warp with its own rounding (the convolutions' and GridSample's sums in their own order),
// which with |P_rgb| <= 1 and second differences below 16 stays far inside 1e-4.
TEST(WarpBlockRewrite, RewrittenModelRunsTheKernelAndAgreesWithTheBlock) {
  std::mt19937 rng(531);
  const int64_t n = 2, h = 17, w = 11;
  const Bytes original = test::warpBlockModel({.batch = n, .height = h, .width = w});
  Bytes model = original;
  std::string reason;
  ASSERT_NE(rewriteWarpBlockToCustomOp(model, reason), 0u) << reason;
  const test::NamedTensors inputs{{"P_rgb", test::uniformTensor({n, 3, h, w}, 1.0f, rng)},
                                  {"grid_in", test::uniformTensor({n, h, w, 2}, 1.2f, rng)}};
  const FloatTensor rewritten = test::runModel(model, inputs, {"Y"}, test::CustomOps::quandrel).at(0);
  const FloatTensor block = test::runModel(original, inputs, {"Y"}).at(0);
  std::vector<float> expected = test::warpEveryImage(inputs[0].second, inputs[1].second);
  for (float& v : expected) v = std::max(v, 0.0f);  // the Relu after the exit
  EXPECT_EQ(rewritten.shape, block.shape);
  EXPECT_EQ(rewritten.values, expected);
  EXPECT_LE(test::maxAbsDifference(rewritten.values, block.values), 1e-4f);
}

struct Decline {
  Bytes model;
  std::string reason;
  // The search finds the block, but removing the cone would leave a reader of P_rgb without its producer.
  bool blockFound = false;
};

// A node set the search cannot use, written directly: GridSample-free, or its GridSample writes nothing.
Bytes withoutGridSampleOnTheTip(bool gridSampleWithoutOutput) {
  test::ModelBuilder m;
  m.opset(16).input("P_rgb", {1, 3, 4, 4}).input("g", {1, 4, 4, 2}).output("Y", {1, 6, 4, 4});
  m.node("Concat", {"P_rgb", "P_rgb"}, {"tip"}).attr("axis", 1).node("Identity", {"g"}, {"grid"});
  if (gridSampleWithoutOutput) {
    m.node("GridSample", {"tip", "grid"}, {""}).attr("mode", "bilinear").attr("padding_mode", "border");
  }
  m.node("Relu", {"tip"}, {"Y"});
  return m.bytes();
}

TEST(WarpBlockDecline, GivesTheReasonAndLeavesTheBytes) {
  using test::warpBlockModel;
  Bytes once = warpBlockModel();
  std::string reason;
  ASSERT_NE(rewriteWarpBlockToCustomOp(once, reason), 0u);
  const Decline declines[] = {
      {test::modelWithoutGraph(), "no graph"},
      {warpBlockModel({.twoConcats = true}), "not one Concat consuming P_rgb"},
      {test::ModelBuilder().input("P_rgb", {1}).output("P_rgb", {1}).bytes(),
       "not one Concat consuming P_rgb"},
      {once, "not one Concat consuming P_rgb"},  // rewriting twice: the cone is gone
      {withoutGridSampleOnTheTip(false), "no GridSample consuming 'tip'"},
      {withoutGridSampleOnTheTip(true), "the fused GridSample has no output"},
      {warpBlockModel({.twoGridSamples = true}), "two GridSamples on the cone's tip"},
      {warpBlockModel({.padding = "zeros"}), "the fused GridSample is not bilinear/border/align_corners=0"},
      {warpBlockModel({.twoExits = true}), "the recombination has 2 exits, not 1"},
      {warpBlockModel({.gridWithoutProducer = true}), "the grid has no producer"},
      {warpBlockModel({.bare = true}), "the grid has no producer"},
      {warpBlockModel({.prgbReadElsewhere = true}), "P_rgb is also read outside the cone by Relu", true},
      {warpBlockModel({.tipReadElsewhere = true}), "the cone's tip 'tip' is also read by Relu"},
      {warpBlockModel({.sampledReadElsewhere = true}),
       "the fused GridSample's output 'sampled' is also read by Relu"},
  };
  for (const Decline& decline : declines) {
    SCOPED_TRACE(decline.reason);
    WarpBlock block{"t", "g", "e", 5};
    if (decline.blockFound) {
      EXPECT_EQ(findWarpBlock(decline.model, &block, reason), test::kWarpBlockNodes);
    } else {
      EXPECT_EQ(findWarpBlock(decline.model, &block, reason), 0u);
      EXPECT_EQ(reason, decline.reason);
      EXPECT_EQ(block.tip + block.grid + block.exit, "");
      EXPECT_EQ(block.nodes, 0);
    }
    Bytes model = decline.model;
    EXPECT_EQ(rewriteWarpBlockToCustomOp(model, reason), 0u);
    EXPECT_EQ(reason, decline.reason);
    EXPECT_EQ(model, decline.model);
  }
  EXPECT_EQ(findWarpBlock(warpBlockModel(), nullptr, reason), 0u);
  EXPECT_EQ(reason, "no out param");
}

TEST(WarpBlockDecline, MalformedModelsFailWithTheCodecsErrorsAndKeepTheirBytes) {
  test::expectMalformedModelsFailWithCodecErrors(test::warpBlockModel(), [](Bytes& bytes) {
    std::string reason;
    return rewriteWarpBlockToCustomOp(bytes, reason);
  });
}

}  // namespace
}  // namespace ko
