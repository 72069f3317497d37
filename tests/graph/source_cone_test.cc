// The source-cone split: what the prep and per-frame models compute together against the unsplit
// director in ONNX Runtime, what each keeps, and every cone the split refuses.
#include "graph/source_cone.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_read.h"
#include "tests/support/authoring.h"
#include "tests/support/graph_probe.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FloatTensor;
using test::ModelBuilder;

enum class Flaw { none, secondConcat, readsInput, noProducer, escapes, prgbOutside };

// P_rgb -> Mul(scale) -> Add(Constant) -> Concat(P_rgb, ·) is the cone; the boundary is then scaled by
// a Constant outside it and added to the keypoint input.
Bytes directorModel(Flaw flaw = Flaw::none) {
  ModelBuilder m;
  m.input("P_rgb", {1, 3, 4, 5})
      .input("kp", {1, 6, "H", 5})
      .input("bias", {1})
      .output("Y", {1, 6, "H", 5})
      .initializer("scale", test::floatTensor({1, 3, 1, 1}, {0.5f, -2.0f, 3.0f}))
      .node("Constant", {}, {"c"})
      .attr("value", test::floatTensor({1}, {0.25f}))
      .node("Mul", {"P_rgb", "scale"}, {"A"});
  const char* offset = flaw == Flaw::readsInput ? "bias" : flaw == Flaw::noProducer ? "ghost" : "c";
  m.node("Add", {"A", offset}, {"B"})
      .node("Concat", {"P_rgb", "B"}, {"tip"})
      .attr("axis", 1)
      .node("Constant", {}, {"k"})
      .attr("value", test::floatTensor({1}, {1.5f}))
      .node("Mul", {"tip", "k"}, {"T"})
      .node("Add", {"T", "kp"}, {flaw == Flaw::none ? "Y" : "Y0"});
  if (flaw == Flaw::secondConcat) m.node("Concat", {"P_rgb", "P_rgb", "Y0"}, {"Y"}).attr("axis", 1);
  if (flaw == Flaw::escapes) m.node("Sub", {"Y0", "A"}, {"Y"});
  if (flaw == Flaw::prgbOutside)
    m.node("Concat", {"Y0"}, {"Y1"}).attr("axis", 1).node("Sub", {"Y1", "P_rgb"}, {"Y"});
  if (flaw == Flaw::readsInput || flaw == Flaw::noProducer) m.node("Identity", {"Y0"}, {"Y"});
  return m.bytes();
}

FloatTensor randomTensor(std::vector<int64_t> shape, uint32_t seed) {
  std::mt19937 rng(seed);
  return test::uniformTensor(std::move(shape), 1.0f, rng);
}

struct GraphSummary {
  std::vector<std::string> opTypes;
  std::unordered_set<std::string> inputs;
};

GraphSummary summarise(const Bytes& model) {
  GraphSummary summary;
  summary.opTypes = test::opTypesOf(test::nodesOf(model, &summary.inputs));
  return summary;
}

TEST(SourceConeSplit, PrepThenPerFrameComputesWhatTheDirectorComputesEachHalfKeepingItsOwnNodesAndInputs) {
  const Bytes director = directorModel();
  std::string boundary;
  ASSERT_EQ(findSourceConeBoundary(director, boundary), 1u);
  ASSERT_EQ(boundary, "tip");

  Bytes prep;
  std::string reason;
  ASSERT_EQ(buildSourceConePrep(director, boundary, prep, reason), 4u) << reason;
  const FloatTensor prgb = randomTensor({1, 3, 4, 5}, 1);
  const FloatTensor kp = randomTensor({1, 6, 4, 5}, 2);
  const FloatTensor bias = randomTensor({1}, 3);
  const FloatTensor tip = test::runModel(prep, {{"P_rgb", prgb}}, {"tip"}).at(0);
  ASSERT_EQ(tip.shape, (std::vector<int64_t>{1, 6, 4, 5}));

  Bytes perFrame;
  ASSERT_EQ(buildSourceConePerFrame(director, boundary, tip.shape.data(), tip.shape.size(), perFrame, reason),
            4u);
  const FloatTensor split = test::runModel(perFrame, {{"tip", tip}, {"kp", kp}, {"bias", bias}}, {"Y"}).at(0);
  const FloatTensor whole =
      test::runModel(director, {{"P_rgb", prgb}, {"kp", kp}, {"bias", bias}}, {"Y"}).at(0);
  EXPECT_EQ(split.shape, whole.shape);
  EXPECT_EQ(split.values, whole.values);

  const int64_t dims[4] = {1, 6, 0, 5};
  ASSERT_NE(buildSourceConePerFrame(director, "tip", dims, 4, perFrame, reason), 0u);
  // The Constant outside the cone rides along in the prep model; nothing else from after the boundary.
  const GraphSummary prepGraph = summarise(prep);
  EXPECT_EQ(prepGraph.opTypes, (std::vector<std::string>{"Constant", "Mul", "Add", "Concat", "Constant"}));
  EXPECT_EQ(prepGraph.inputs, (std::unordered_set<std::string>{"P_rgb"}));

  const GraphSummary frameGraph = summarise(perFrame);
  EXPECT_EQ(frameGraph.opTypes, (std::vector<std::string>{"Constant", "Mul", "Add"}));
  EXPECT_EQ(frameGraph.inputs, (std::unordered_set<std::string>{"kp", "bias", "tip"}));
  // A dimension below 1 stays symbolic, so the per-frame model accepts any height there.
  const FloatTensor tallTip = randomTensor({1, 6, 7, 5}, 4);
  const FloatTensor tallKp = randomTensor({1, 6, 7, 5}, 5);
  const FloatTensor y =
      test::runModel(perFrame, {{"tip", tallTip}, {"kp", tallKp}, {"bias", {{1}, {0}}}}, {"Y"}).at(0);
  EXPECT_FLOAT_EQ(y.values[0], tallTip.values[0] * 1.5f + tallKp.values[0]);
}

TEST(SourceConeSplit, RefusesConesItCannotSplitProducingNoModelAndSayingWhy) {
  ModelBuilder noPrior;
  noPrior.input("X", {1}).output("Y", {1}).node("Concat", {"X"}, {"tip"}).attr("axis", 0);
  const struct {
    Bytes director;
    const char* reason;
  } cases[] = {
      {directorModel(Flaw::readsInput), "cone reads graph input 'bias'"},
      {directorModel(Flaw::noProducer), "cone leaf 'ghost' has no producer"},
      {directorModel(Flaw::escapes), "cone value 'A' escapes to Sub"},
      {directorModel(Flaw::prgbOutside), "P_rgb is also read outside the cone by Sub"},
      {Bytes{}, "no graph"},
      {noPrior.bytes(), "no P_rgb input"},
  };
  for (const auto& c : cases) {
    const Bytes untouched = {7, 7, 7};
    Bytes prep = untouched;
    Bytes perFrame = untouched;
    std::string prepReason;
    std::string frameReason;
    const int64_t dims[4] = {1, 6, 4, 5};
    EXPECT_EQ(buildSourceConePrep(c.director, "tip", prep, prepReason), 0u);
    EXPECT_EQ(buildSourceConePerFrame(c.director, "tip", dims, 4, perFrame, frameReason), 0u);
    EXPECT_EQ(prepReason, c.reason);
    EXPECT_EQ(frameReason, c.reason);
    EXPECT_EQ(prep, untouched);
    EXPECT_EQ(perFrame, untouched);
  }
}

TEST(SourceConeBoundary, CountsEveryConcatReadingThePrior) {
  std::string boundary = "stale";
  EXPECT_EQ(findSourceConeBoundary(directorModel(Flaw::secondConcat), boundary), 2u);
  EXPECT_EQ(boundary, "tip");
  EXPECT_EQ(findSourceConeBoundary(Bytes{}, boundary), 0u);
  EXPECT_EQ(boundary, "");
}

}  // namespace
}  // namespace ko
