// The lip-contour bind: where it finds the compose alpha and the canvas, what it writes, what it refuses
// and what the bound graph computes in ONNX Runtime.
#include "graph/lip_bind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"
#include "tests/support/compose_tail_model.h"
#include "tests/support/graph_probe.h"
#include "tests/support/lip_rewrite.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::ComposeTail;
using test::composeTailModel;
using test::FloatTensor;
using test::kComposeAlpha;

using Bind = test::LipRewrite;

Bind bind(const Bytes& model) {
  return test::runLipRewrite(model, rewriteBindLipContour);
}

Bind bound(const Bytes& model) {
  return test::expectRewritten(bind(model));
}

std::string refusal(const Bytes& model) {
  return test::expectRefused(bind(model), model);
}

// The dims of the graph input "lip_delivery": a value as its digits, a symbolic dim as its name.
std::vector<std::string> lipDims(const Bytes& model) {
  std::vector<std::string> dims;
  GsReader reader(gsGraphOf(gsSliceOf(model)));
  GsField field;
  while (reader.next(field)) {
    if (field.number != onnx::kGraphInput || gsFirstStr(field.payload, onnx::kValueInfoName) != kLipInputName)
      continue;
    const GsSlice type = gsFirstMsg(gsFirstMsg(field.payload, onnx::kValueInfoType), onnx::kTypeTensorType);
    EXPECT_EQ(gsLastVarint(type, onnx::kTensorTypeElemType), static_cast<uint64_t>(onnx::kFloat));
    GsReader shape(gsFirstMsg(type, onnx::kTensorTypeShape));
    GsField dim;
    while (shape.next(dim)) {
      const std::string param = gsFirstStr(dim.payload, onnx::kDimParam);
      dims.push_back(param.empty() ? std::to_string(gsLastVarint(dim.payload, onnx::kDimValue)) : param);
    }
  }
  return dims;
}

bool reads(const GsNodeInfo& node, const std::string& name) {
  return std::find(node.inputs.begin(), node.inputs.end(), name) != node.inputs.end();
}

// The Min sits right behind the Clip and is the only reader of the alpha left.
void expectBoundStructure(const Bytes& model) {
  const std::vector<GsNodeInfo> nodes = test::nodesOf(model);
  const auto clip = std::find_if(nodes.begin(), nodes.end(), [](const GsNodeInfo& node) {
    return node.outputs == std::vector<std::string>{kComposeAlpha};
  });
  ASSERT_NE(clip, nodes.end());
  ASSERT_NE(clip + 1, nodes.end());
  const GsNodeInfo& min = *(clip + 1);
  EXPECT_EQ(min.opType, "Min");
  EXPECT_EQ(min.inputs, (std::vector<std::string>{kComposeAlpha, kLipInputName}));
  EXPECT_EQ(min.outputs, std::vector<std::string>{kLipShrunkName});
  EXPECT_EQ(gsViewNode(hcPayload(min.raw)).name, kLipMinName);
  size_t shrunkReaders = 0;
  for (const GsNodeInfo& node : nodes) {
    EXPECT_TRUE(&node == &min || !reads(node, kComposeAlpha)) << node.opType;
    shrunkReaders += reads(node, kLipShrunkName) ? 1 : 0;
  }
  EXPECT_EQ(shrunkReaders, 2u);  // the inverse's Sub and the mouth's Mul
}

TEST(LipBind, BindsTheTailInEitherOperandOrderWithEitherKindOfOneBehindIdentityAndCastSteps) {
  for (bool swapped : {false, true}) {
    for (bool oneAsConstant : {false, true}) {
      for (int steps = 0; steps <= 4; ++steps) {
        SCOPED_TRACE(testing::Message()
                     << "swapped " << swapped << ", constant node " << oneAsConstant << ", steps " << steps);
        const Bind result = bound(composeTailModel(
            {.swapped = swapped, .oneAsConstant = oneAsConstant, .passThroughSteps = steps}));
        EXPECT_EQ(result.canvas, 8);
        EXPECT_EQ(result.batch, 1);
        EXPECT_EQ(lipDims(result.model), (std::vector<std::string>{"1", "1", "8", "8"}));
        expectBoundStructure(result.model);
      }
    }
  }
}

TEST(LipBind, ReadsTheCanvasOffTheAlphaProducersInitializersElseOffPrgb) {
  const std::vector<std::pair<ComposeTail, int32_t>> cases{
      {{.loDims = {1, 1, 6, 6}}, 6},
      {{.loDims = {1, 1, 6, 6}, .hiDims = {1, 1, 7, 7}}, 7},  // the later input overrides
      {{.loDims = {1, 1, 6, 6}, .hiDims = {1, 1, 3, 5}}, 6},  // unequal dims leave it
      {{.side = 512, .loDims = {1, 1, 3, 5}, .hiDims = {1, 1, 3, 5}}, 512},
      {{.side = 512, .prgbRank = 3, .loDims = {6, 6}}, 6},
  };
  for (const auto& [tail, side] : cases) {
    SCOPED_TRACE(side);
    const Bind result = bound(composeTailModel(tail));
    EXPECT_EQ(result.canvas, side);
    EXPECT_EQ(lipDims(result.model),
              (std::vector<std::string>{"1", "1", std::to_string(side), std::to_string(side)}));
  }
}

TEST(LipBind, ReadsTheBatchOffPooled64ElseKpDrivingElseLeavesItSymbolic) {
  const std::vector<std::pair<ComposeTail, std::string>> cases{
      {{.batch = 2}, "2"},
      {{.batch = 2, .pooled64Batch = 3}, "3"},
      {{.batch = 2, .kpDriving = false, .pooled64Batch = 3}, "3"},
  };
  for (const auto& [tail, batch] : cases) {
    const Bind result = bound(composeTailModel(tail));
    EXPECT_EQ(std::to_string(result.batch), batch);
    EXPECT_EQ(lipDims(result.model).at(0), batch);
  }
  for (const ComposeTail& tail : {ComposeTail{.batch = 2, .kpDriving = false}, ComposeTail{.batch = 0}}) {
    const Bind result = bound(composeTailModel(tail));
    EXPECT_EQ(result.batch, 0);
    EXPECT_EQ(lipDims(result.model), (std::vector<std::string>{"ko_hoist_d0", "1", "8", "8"}));
  }
}

TEST(LipBindRefuses, GraphsItCannotBindAndSaysWhy) {
  const char* const noTail = "the graph does not carry the unified compose tail";
  const char* const noCanvas = "cannot read the compose canvas off the graph";
  const struct {
    const char* name;
    Bytes model;
    const char* expected;
  } cases[] = {
      {"a one of 2", composeTailModel({.one = 2.0f}), noTail},
      {"a Constant one of 0.5", composeTailModel({.oneAsConstant = true, .one = 0.5f}), noTail},
      {"a Sigmoid alpha", composeTailModel({.alphaOpType = "Sigmoid"}), noTail},
      {"no graph", test::modelWithoutGraph(), "no graph"},
      {"a second bind", bound(composeTailModel({})).model,
       "the graph already carries an input named lip_delivery"},
      // The inverse reads the alpha before the Clip is listed; ONNX Runtime sorts such a graph itself, the
      // bind's self-check does not take it on trust.
      {"not topologically ordered", composeTailModel({.inverseFirst = true}),
       "self-check: node 0 reads 'tessera_lipdel_alpha' produced at 5 — the rewritten graph is not "
       "topologically ordered"},
      {"unequal bounds, rank-3 P_rgb", composeTailModel({.side = 512, .prgbRank = 3, .loDims = {1, 1, 3, 5}}),
       noCanvas},
      {"scalar bounds, rank-3 P_rgb", composeTailModel({.prgbRank = 3}), noCanvas},
  };
  for (const auto& c : cases) EXPECT_EQ(refusal(c.model), c.expected) << c.name;
}

TEST(LipBind, TruncatedModelsFailOnlyWithTheCodecsErrors) {
  test::expectEveryPrefixFailsOnlyWithCodecErrors(composeTailModel({}), [](Bytes& bytes) -> size_t {
    std::string reason;
    return rewriteBindLipContour(bytes, reason, nullptr, nullptr) ? 1 : 0;
  });
}

// The bound graph against the original one run in ONNX Runtime: a lip of ones leaves its output, a lip
// of zeros leaves only the backdrop, and any other lip blends with the original alpha shrunk to it.
TEST(LipBindInOrt, TheLipShrinksTheAlphaToItself) {
  constexpr int64_t kBatch = 2, kSide = 8;
  constexpr size_t kPixels = kBatch * kSide * kSide;
  std::mt19937 rng(54);
  const Bytes model = composeTailModel({.side = kSide, .batch = kBatch});
  const Bind result = bound(model);
  const FloatTensor prgb{{kBatch, 3, kSide, kSide}, test::uniformValues(3 * kPixels, 0.0f, 1.0f, rng)};
  const FloatTensor kp = test::uniformTensor({kBatch, 21, 3}, 1.0f, rng);
  const std::vector<FloatTensor> original =
      test::runModel(model, {{"P_rgb", prgb}, {"kp_driving", kp}}, {"out", kComposeAlpha});
  const std::vector<float>& alpha = original.at(1).values;
  // The map clips on both sides, so a random lip lies below the alpha in places and above in others.
  EXPECT_NE(std::count(alpha.begin(), alpha.end(), 0.0f), 0);
  EXPECT_NE(std::count(alpha.begin(), alpha.end(), 1.0f), 0);
  const auto boundOut = [&](const std::vector<float>& lip) {
    return test::runModel(
               result.model,
               {{"P_rgb", prgb}, {"kp_driving", kp}, {kLipInputName, {{kBatch, 1, kSide, kSide}, lip}}},
               {"out"})
        .at(0)
        .values;
  };
  EXPECT_LE(test::maxAbsDifference(boundOut(std::vector<float>(kPixels, 1.0f)), original.at(0).values),
            1e-6f);
  std::vector<float> backdrop(prgb.values.size());
  std::transform(prgb.values.begin(), prgb.values.end(), backdrop.begin(),
                 [](float x) { return std::tanh(x); });
  EXPECT_LE(test::maxAbsDifference(boundOut(std::vector<float>(kPixels, 0.0f)), backdrop), 2e-6f);
  const std::vector<float> lip = test::uniformValues(kPixels, 0.0f, 1.0f, rng);
  std::vector<float> expected(3 * kPixels);
  for (size_t at = 0; at < expected.size(); ++at) {
    const size_t pixel = at / (3 * kSide * kSide) * kSide * kSide + at % (kSide * kSide);
    const float a = std::min(alpha[pixel], lip[pixel]), x = prgb.values[at];
    expected[at] = a * (1.0f / (1.0f + std::exp(-x))) + (1.0f - a) * std::tanh(x);
  }
  EXPECT_LE(test::maxAbsDifference(boundOut(lip), expected), 1e-5f);
}

}  // namespace
}  // namespace ko
