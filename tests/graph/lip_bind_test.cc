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
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::ComposeTail;
using test::composeTailModel;
using test::FloatTensor;
using test::kComposeAlpha;

constexpr int32_t kUnset = -7;

struct Bind {
  bool bound = false;
  Bytes model;
  std::string reason;
  int32_t canvas = kUnset;
  int32_t batch = kUnset;
};

Bind bind(const Bytes& model) {
  Bind result;
  result.model = model;
  result.reason = "stale";
  result.bound = rewriteBindLipContour(result.model, result.reason, &result.canvas, &result.batch);
  return result;
}

Bind bound(const Bytes& model) {
  Bind result = bind(model);
  EXPECT_TRUE(result.bound) << result.reason;
  EXPECT_EQ(result.reason, "");
  return result;
}

// The refusal's text, after checking that the bytes and the outs are as a refusal leaves them.
std::string refusal(const Bytes& model) {
  const Bind result = bind(model);
  EXPECT_FALSE(result.bound);
  EXPECT_EQ(result.model, model);
  EXPECT_EQ(result.canvas, 0);
  EXPECT_EQ(result.batch, 0);
  return result.reason;
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

TEST(LipBind, BindsTheTailInEitherOperandOrderWithEitherKindOfOne) {
  for (bool swapped : {false, true}) {
    for (bool oneAsConstant : {false, true}) {
      SCOPED_TRACE(testing::Message() << "swapped " << swapped << ", constant node " << oneAsConstant);
      const Bind result = bound(composeTailModel({.swapped = swapped, .oneAsConstant = oneAsConstant}));
      EXPECT_EQ(result.canvas, 8);
      EXPECT_EQ(result.batch, 1);
      EXPECT_EQ(lipDims(result.model), (std::vector<std::string>{"1", "1", "8", "8"}));
      expectBoundStructure(result.model);
    }
  }
}

TEST(LipBind, WalksIdentityAndCastStepsBackFromTheOutput) {
  for (int steps = 1; steps <= 4; ++steps) {
    SCOPED_TRACE(steps);
    const Bind result = bound(composeTailModel({.passThroughSteps = steps}));
    expectBoundStructure(result.model);
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
  EXPECT_EQ(refusal(composeTailModel({.side = 512, .prgbRank = 3, .loDims = {1, 1, 3, 5}})),
            "cannot read the compose canvas off the graph");
  EXPECT_EQ(refusal(composeTailModel({.prgbRank = 3})), "cannot read the compose canvas off the graph");
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

TEST(LipBindRefuses, GraphsWithoutTheUnifiedComposeTail) {
  const char* const noTail = "the graph does not carry the unified compose tail";
  EXPECT_EQ(refusal(composeTailModel({.one = 2.0f})), noTail);
  EXPECT_EQ(refusal(composeTailModel({.oneAsConstant = true, .one = 0.5f})), noTail);
  EXPECT_EQ(refusal(composeTailModel({.alphaOpType = "Sigmoid"})), noTail);
  Bytes noGraph;
  gsPutVarintField(noGraph, onnx::kModelIrVersion, 8);
  EXPECT_EQ(refusal(noGraph), "no graph");
}

TEST(LipBindRefuses, ASecondBind) {
  const Bind first = bound(composeTailModel({}));
  EXPECT_EQ(refusal(first.model), "the graph already carries an input named lip_delivery");
}

TEST(LipBindRefuses, AGraphThatWouldNotStayTopologicallyOrdered) {
  // The inverse reads the alpha before the Clip is listed; ONNX Runtime sorts such a graph itself, the
  // bind's self-check does not take it on trust.
  EXPECT_EQ(refusal(composeTailModel({.inverseFirst = true})),
            "self-check: node 0 reads 'tessera_lipdel_alpha' produced at 5 — the rewritten graph is not "
            "topologically ordered");
}

TEST(LipBind, TruncatedModelsFailOnlyWithTheCodecsErrors) {
  test::expectEveryPrefixFailsOnlyWithCodecErrors(composeTailModel({}), [](Bytes& bytes) -> size_t {
    std::string reason;
    return rewriteBindLipContour(bytes, reason, nullptr, nullptr) ? 1 : 0;
  });
}

class LipBindInOrt : public testing::Test {
 protected:
  static constexpr int64_t kBatch = 2;
  static constexpr int64_t kSide = 8;
  static constexpr size_t kPixels = kBatch * kSide * kSide;

  void SetUp() override {
    prgb_ = {{kBatch, 3, kSide, kSide}, test::uniformValues(3 * kPixels, 0.0f, 1.0f, rng_)};
    kp_ = test::uniformTensor({kBatch, 21, 3}, 1.0f, rng_);
    const std::vector<FloatTensor> original =
        test::runModel(model_, {{"P_rgb", prgb_}, {"kp_driving", kp_}}, {"out", kComposeAlpha});
    out_ = original.at(0).values;
    alpha_ = original.at(1).values;
  }

  std::vector<float> boundOut(const std::vector<float>& lip) {
    return test::runModel(
               bound_.model,
               {{"P_rgb", prgb_}, {"kp_driving", kp_}, {kLipInputName, {{kBatch, 1, kSide, kSide}, lip}}},
               {"out"})
        .at(0)
        .values;
  }

  // The blend with the alpha shrunk to `lip`, from the original graph's alpha.
  std::vector<float> reference(const std::vector<float>& lip) const {
    std::vector<float> out(3 * kPixels);
    for (int64_t n = 0; n < kBatch; ++n) {
      for (int64_t c = 0; c < 3; ++c) {
        for (int64_t p = 0; p < kSide * kSide; ++p) {
          const size_t pixel = static_cast<size_t>(n * kSide * kSide + p);
          const size_t at = static_cast<size_t>((n * 3 + c) * kSide * kSide + p);
          const float alpha = std::min(alpha_[pixel], lip[pixel]);
          const float x = prgb_.values[at];
          out[at] = alpha * (1.0f / (1.0f + std::exp(-x))) + (1.0f - alpha) * std::tanh(x);
        }
      }
    }
    return out;
  }

  std::mt19937 rng_{54};
  const Bytes model_ = composeTailModel({.side = kSide, .batch = kBatch});
  const Bind bound_ = bound(model_);
  FloatTensor prgb_;
  FloatTensor kp_;
  std::vector<float> out_;
  std::vector<float> alpha_;
};

TEST_F(LipBindInOrt, ALipOfOnesLeavesTheOutputAsItWas) {
  EXPECT_LE(test::maxAbsDifference(boundOut(std::vector<float>(kPixels, 1.0f)), out_), 1e-6f);
}

TEST_F(LipBindInOrt, ALipOfZerosLeavesOnlyTheBackdrop) {
  const std::vector<float> zeros(kPixels, 0.0f);
  std::vector<float> backdrop(prgb_.values.size());
  std::transform(prgb_.values.begin(), prgb_.values.end(), backdrop.begin(),
                 [](float x) { return std::tanh(x); });
  EXPECT_LE(test::maxAbsDifference(boundOut(zeros), backdrop), 2e-6f);
  EXPECT_LE(test::maxAbsDifference(reference(zeros), backdrop), 1e-7f);
}

TEST_F(LipBindInOrt, AnyOtherLipShrinksTheAlphaToItself) {
  const std::vector<float> lip = test::uniformValues(kPixels, 0.0f, 1.0f, rng_);
  // The map clips on both sides and the lip lies below the alpha in places and above in others.
  EXPECT_NE(std::count(alpha_.begin(), alpha_.end(), 0.0f), 0);
  EXPECT_NE(std::count(alpha_.begin(), alpha_.end(), 1.0f), 0);
  EXPECT_LE(test::maxAbsDifference(boundOut(lip), reference(lip)), 1e-5f);
}

}  // namespace
}  // namespace ko
