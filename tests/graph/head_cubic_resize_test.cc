// The head's cubic ×2 Resize → Pad + depthwise Conv + DepthToSpace load-time rewrite: what the chain
// computes against ONNX Runtime's own cubic Resize, the names it gets, the models it leaves byte for
// byte, malformed input, and the cubic taps it is built from.
#include "graph/head_cubic_resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "graph/cubic_taps.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"
#include "tests/support/authoring.h"
#include "tests/support/cubic_head_model.h"
#include "tests/support/failure_text.h"
#include "tests/support/graph_probe.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CubicHead;
using test::FloatTensor;
using test::ModelBuilder;

Bytes rewritten(Bytes model, size_t expected) {
  EXPECT_EQ(rewriteHeadCubicResize(model), expected);
  return model;
}

// The largest difference, as a fraction of the range the expected values span (of their magnitude when
// they are all one value).
double relativeDifference(const FloatTensor& actual, const FloatTensor& expected) {
  const auto [low, high] = std::minmax_element(expected.values.begin(), expected.values.end());
  const double range =
      std::max(double{*high} - double{*low}, double{std::max(std::abs(*high), std::abs(*low))});
  double worst = 0;
  for (size_t i = 0; i < actual.values.size(); ++i) {
    worst = std::max(worst, std::abs(double{actual.values[i]} - double{expected.values[i]}));
  }
  return worst / range;
}

void expectSameAsResize(const CubicHead& head, const std::vector<int64_t>& shape, std::mt19937& rng) {
  const Bytes model = test::cubicHeadModel(head);
  const Bytes chain = rewritten(model, 1);
  const test::NamedTensors inputs{{"X", test::uniformTensor(shape, 1.0f, rng)}};
  const auto expected = test::runModel(model, inputs, {"R", "Y"});
  const auto actual = test::runModel(chain, inputs, {"R", "Y"});
  for (size_t output = 0; output < expected.size(); ++output) {
    EXPECT_EQ(actual[output].shape, expected[output].shape);
    EXPECT_LE(relativeDifference(actual[output], expected[output]), 1e-5)
        << "C " << head.channels << ", group " << head.group << ", " << shape[2] << "x" << shape[3]
        << ", output " << output;
  }
}

TEST(HeadCubicResize, ComputesWhatOnnxRuntimesCubicResizeComputes) {
  std::mt19937 rng(56);
  // Sizes from one sample up: every output of the smallest ones lies within two samples of a border.
  const std::vector<std::vector<int64_t>> sizes{{1, 1}, {2, 3}, {3, 1}, {5, 7}, {16, 9}};
  for (const CubicHead& head :
       {CubicHead{.channels = 1}, CubicHead{.channels = 3, .coefficient = -0.5f},
        CubicHead{.channels = 4, .group = 2, .coefficient = -0.75f},
        CubicHead{.opset = 13, .channels = 6, .group = 3},
        CubicHead{.opset = 19, .channels = 5, .group = 5, .kernel = 1, .coefficient = -0.6f}}) {
    for (const auto& size : sizes) expectSameAsResize(head, {1, head.channels, size[0], size[1]}, rng);
  }
  expectSameAsResize(CubicHead{.channels = 2}, {3, 2, 4, 6}, rng);
}

TEST(HeadCubicResize, PutsTheChainInTheResizesPlaceAndNamesItAfterTheResize) {
  const Bytes model = test::cubicHeadModel({.leadingNodes = 7});
  const Bytes chain = rewritten(model, 1);
  const std::vector<GsNodeInfo> after = test::nodesOf(chain);
  ASSERT_EQ(after.size(), test::nodesOf(model).size() + 2);
  const struct {
    const char *opType, *name;
    std::vector<std::string> inputs;
    const char* output;
  } chainNodes[] = {{"Pad", "/Resize/pad", {"lead6", "rz7_pads"}, "rz7_padout"},
                    {"Conv", "/Resize/dwconv", {"rz7_padout", "rz7_dw_w"}, "rz7_convout"},
                    {"DepthToSpace", "/Resize/d2s", {"rz7_convout"}, "R"}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(after[7 + i].opType, chainNodes[i].opType);
    EXPECT_EQ(gsFirstStr(hcPayload(after[7 + i].raw), onnx::kNodeName), chainNodes[i].name);
    EXPECT_EQ(after[7 + i].inputs, chainNodes[i].inputs);
    EXPECT_EQ(after[7 + i].outputs, std::vector<std::string>{chainNodes[i].output});
  }
  const Bytes namedChain = rewritten(test::cubicHeadModel({.resizeName = "/head/up/Resize"}), 1);
  const std::vector<GsNodeInfo> named = test::nodesOf(namedChain);  // its raw spans point into the chain
  EXPECT_EQ(gsFirstStr(hcPayload(named[0].raw), onnx::kNodeName), "/head/up/Resize/pad");
  EXPECT_EQ(named[0].inputs, (std::vector<std::string>{"X", "rz0_pads"}));
  EXPECT_EQ(named[2].outputs, std::vector<std::string>{"R"});
}

TEST(HeadCubicResize, AppendsItsInitializersAndKeepsEverythingElseByteForByte) {
  const Bytes model = test::cubicHeadModel({.channels = 6, .group = 2, .leadingNodes = 2});
  const Bytes chain = rewritten(model, 1);
  test::expectFieldsOutsideTheGraphKept(model, chain);
  // Nodes 0 and 1 lead to the Resize (2), which gives way to three nodes; the rest follows unchanged.
  std::vector<Bytes> graphBefore = test::fieldsOf(gsGraphOf(gsSliceOf(model)));
  std::vector<Bytes> graphAfter = test::fieldsOf(gsGraphOf(gsSliceOf(chain)));
  ASSERT_EQ(graphAfter.size(), graphBefore.size() + 4);
  graphBefore.erase(graphBefore.begin() + 2);
  graphAfter.erase(graphAfter.begin() + 2, graphAfter.begin() + 5);
  const std::vector<Bytes> added(graphAfter.end() - 2, graphAfter.end());
  graphAfter.resize(graphAfter.size() - 2);
  EXPECT_EQ(graphAfter, graphBefore);

  const std::pair<const char*, std::vector<int64_t>> initializers[] = {{"rz2_pads", {8}},
                                                                       {"rz2_dw_w", {24, 1, 5, 5}}};
  for (size_t i = 0; i < 2; ++i) {
    std::vector<int64_t> dims;
    hcTensorDims(hcPayload(gsSliceOf(added[i])), dims);
    EXPECT_EQ(gsFirstStr(hcPayload(gsSliceOf(added[i])), onnx::kTensorName), initializers[i].first);
    EXPECT_EQ(dims, initializers[i].second);
  }
}

// The scales as float_data, in a second graph field: protocol buffers merge the two, as ONNX Runtime's
// parser does, so the rewrite must find the initializer there.
TEST(HeadCubicResize, FindsTheScalesInFloatDataAndAcrossGraphFields) {
  Bytes scales;
  gsPutVarintField(scales, onnx::kTensorDims, 4);
  gsPutVarintField(scales, onnx::kTensorDataType, onnx::kFloat);
  gsPutString(scales, onnx::kTensorName, "scales2");
  const float values[] = {1, 1, 2, 2};
  gsPutBytes(scales, onnx::kTensorFloatData, values, sizeof values);
  Bytes graph;
  gsPutMessage(graph, onnx::kGraphInitializer, scales);
  Bytes withSecondScales = test::cubicHeadModel({.resizeInputs = {"X", "", "scales2"}});
  gsPutMessage(withSecondScales, onnx::kModelGraph, graph);
  std::mt19937 rng(7);
  const test::NamedTensors inputs{{"X", test::uniformTensor({1, 3, 3, 4}, 1.0f, rng)}};
  const auto expected = test::runModel(withSecondScales, inputs, {"R"});
  const auto actual = test::runModel(rewritten(withSecondScales, 1), inputs, {"R"});
  EXPECT_LE(relativeDifference(actual.at(0), expected.at(0)), 1e-5);
}

TEST(HeadCubicResizeDeclines, ModelsItDoesNotComputeExactlyAndLeavesThemByteForByte) {
  const auto attribute = [](auto name, auto value) { return [=](ModelBuilder& m) { m.attr(name, value); }; };
  const std::vector<std::pair<const char*, CubicHead>> cases{
      {"align_corners", {.coordinates = "align_corners"}},
      {"asymmetric", {.coordinates = "asymmetric"}},
      {"no coordinate mode", {.coordinates = ""}},
      {"linear", {.mode = "linear"}},
      {"no mode", {.mode = ""}},
      {"scale 3", {.scales = {1, 1, 3, 3}}},
      {"scales 2 and 3", {.scales = {1, 1, 2, 3}}},
      {"scales of another rank", {.scales = {1, 1, 2, 2, 1}}},
      {"axes",
       {.resizeExtras =
            [](ModelBuilder& m) {
              m.attrInts("axes", {2, 3});
            }}},
      {"exclude_outside", {.resizeExtras = attribute("exclude_outside", 1)}},
      {"antialias", {.resizeExtras = attribute("antialias", 1)}},
      {"keep_aspect_ratio_policy", {.resizeExtras = attribute("keep_aspect_ratio_policy", "not_larger")}},
      {"mode stated twice", {.resizeExtras = attribute("mode", "cubic")}},
      {"integer cubic_coeff_a", {.resizeExtras = attribute("cubic_coeff_a", 1)}},
      {"domain ai.onnx", {.domain = "ai.onnx"}},
      {"domain com.other", {.domain = "com.other"}},
      {"roi",
       {.resizeInputs = {"X", "roi", "scales"},
        .extras =
            [](ModelBuilder& m) { m.initializer("roi", test::floatTensor({8}, std::vector<float>(8, 0))); }}},
      {"sizes input", {.resizeInputs = {"X", "", "scales", ""}}},
      {"two inputs", {.resizeInputs = {"X", "scales"}}},
      {"scales not an initializer",
       {.resizeInputs = {"X", "", "S"}, .extras = [](ModelBuilder& m) { m.input("S", {4}); }}},
      {"scales overridable", {.extras = [](ModelBuilder& m) { m.input("scales", {4}); }}},
      {"consumer not a Conv", {.consumer = "Relu"}},
      {"no consumer", {.consumer = ""}},
      {"two consumers",
       {.extras =
            [](ModelBuilder& m) {
              m.node("Relu", {"R"}, {"Z"}).output("Z", {"N", 3, "H2", "W2"});
            }}},
      {"float16 weight", {.weightType = 10}},
      {"two qualifying Resizes",
       {.extras =
            [](ModelBuilder& m) {
              m.node("Resize", {"X", "", "scales"}, {"R2"}).attr("mode", "cubic");
              m.attr("coordinate_transformation_mode", "half_pixel").output("R2", {"N", 3, "H2", "W2"});
            }}},
      {"name taken", {.extras = [](ModelBuilder& m) { m.valueInfo("rz0_convout", {1}); }}},
  };
  for (const auto& [label, head] : cases) {
    const Bytes model = test::cubicHeadModel(head);
    EXPECT_EQ(rewritten(model, 0), model) << label;
  }
}

// Models the recipe above cannot express: a Conv reading R as its bias, too many channels, a weight
// fed at run time, a group stated twice.
TEST(HeadCubicResizeDeclines, ConvsThatDoNotTellTheChannelCount) {
  const std::function<void(ModelBuilder&)> convs[] = {
      [](ModelBuilder& m) {
        m.input("I", {1, 2, 6, 6}).initializer("W", test::floatTensor({2, 2, 1, 1}, {1, 0, 0, 1}));
        m.node("Conv", {"I", "W", "R"}, {"Y"});
      },
      // Dims alone: the rewrite reads no weight values, and a model this wide is never loaded here.
      [](ModelBuilder& m) {
        m.initializer("W", test::TensorData{onnx::kFloat, {1048577, 1, 1, 1}, {}});
        m.node("Conv", {"R", "W"}, {"Y"}).attr("group", 1048577);
      },
      [](ModelBuilder& m) {
        m.input("W", {2, 1, 1, 1}).node("Conv", {"R", "W"}, {"Y"}).attr("group", 2);
      },
      [](ModelBuilder& m) {
        m.initializer("W", test::floatTensor({2, 1, 1, 1}, {1, 1}));
        m.node("Conv", {"R", "W"}, {"Y"}).attr("group", 2).attr("group", 2);
      },
  };
  for (const auto& conv : convs) {
    ModelBuilder m;
    m.opset(17).input("X", {1, 2, 3, 3}).output("Y", {"a", "b", "c", "d"});
    m.initializer("scales", test::floatTensor({4}, {1, 1, 2, 2}));
    m.node("Resize", {"X", "", "scales"}, {"R"}).attr("mode", "cubic");
    m.attr("coordinate_transformation_mode", "half_pixel");
    conv(m);
    EXPECT_EQ(rewritten(m.bytes(), 0), m.bytes());
  }
}

TEST(HeadCubicResizeOfMalformedModels, FailWithTheCodecsErrorsAndLeaveTheBytes) {
  test::expectMalformedModelsFailWithCodecErrors(test::cubicHeadModel({}),
                                                 [](Bytes& bytes) { return rewriteHeadCubicResize(bytes); });
}

TEST(CubicTaps, AreKeysWeightsNormalisedToOne) {
  double taps[4];
  hcTaps(0.25, -0.75, taps);
  const double expected[4] = {-0.10546875, 0.87890625, 0.26171875, -0.03515625};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(taps[k], expected[k], 1e-12);
  hcTaps(0.75, -0.75, taps);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(taps[k], expected[3 - k], 1e-12) << "mirrored phase";
  hcTaps(0, -0.5, taps);
  EXPECT_EQ(std::vector<double>(taps, taps + 4), (std::vector<double>{0, 1, 0, 0}));
  for (double a : {-0.75, -0.5, -1.0}) {
    for (int step = 0; step < 64; ++step) {
      hcTaps(step / 64.0, a, taps);
      EXPECT_NEAR(taps[0] + taps[1] + taps[2] + taps[3], 1.0, 1e-12) << "phase " << step / 64.0;
    }
  }
}

}  // namespace
}  // namespace ko
