// The student blend MatMul → Gemm load-time normalisation: what the Gemm computes in ONNX Runtime, the
// fields it keeps, the nodes and models it leaves byte for byte, and malformed input.
#include "graph/student_blend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/graph_probe.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FloatTensor;
using test::ModelBuilder;

struct Blend {
  int64_t opset = 17;
  std::string opType = "MatMul";
  std::string name = "/s2/blend";
  std::string domain{};
  std::vector<std::string> inputs{"A", "B"};
  std::function<void(ModelBuilder&)> extras{};  // called last
};

// X → Relu → A; A × B (the blend) → P; Sigmoid → Y.
Bytes blendModel(const Blend& blend) {
  std::vector<float> weights(20);
  for (size_t i = 0; i < weights.size(); ++i) weights[i] = 0.125f * static_cast<float>(i) - 1.0f;
  ModelBuilder m;
  m.opset(blend.opset)
      .input("X", {"N", 4})
      .output("Y", {"N", 5})
      .initializer("B", test::floatTensor({4, 5}, weights))
      .node("Relu", {"X"}, {"A"})
      .nodeName("/s2/act")
      .node(blend.opType, blend.inputs, {"P"}, blend.domain)
      .nodeName(blend.name)
      .node("Sigmoid", {"P"}, {"Y"});
  if (blend.extras) blend.extras(m);
  return m.bytes();
}

Bytes normalised(Bytes model, size_t expected) {
  EXPECT_EQ(normaliseStudentBlend(model), expected);
  return model;
}

TEST(StudentBlend, GemmComputesWhatTheMatMulComputed) {
  std::mt19937 rng(56);
  const FloatTensor x = test::uniformTensor({3, 4}, 2.0f, rng);
  for (const Blend& blend : {Blend{}, Blend{.opset = 11, .domain = "ai.onnx"}, Blend{.opset = 20}}) {
    const Bytes model = blendModel(blend);
    const Bytes gemm = normalised(model, 1);
    EXPECT_EQ(test::nodesOf(gemm).at(1).opType, "Gemm");
    const FloatTensor expected = test::runModel(model, {{"X", x}}, {"Y"}).at(0);
    const FloatTensor actual = test::runModel(gemm, {{"X", x}}, {"Y"}).at(0);
    EXPECT_EQ(actual.shape, expected.shape);
    EXPECT_LE(test::maxAbsDifference(actual.values, expected.values), 1e-6f);
  }
}

TEST(StudentBlend, ChangesOnlyTheOpTypeAndDomainOfTheNode) {
  const Bytes model = blendModel({.domain = "ai.onnx"});
  const Bytes gemm = normalised(model, 1);
  test::expectFieldsOutsideTheGraphKept(model, gemm);
  std::vector<Bytes> graphBefore = test::fieldsOf(gsGraphOf(gsSliceOf(model)));
  std::vector<Bytes> graphAfter = test::fieldsOf(gsGraphOf(gsSliceOf(gemm)));
  ASSERT_EQ(graphAfter.size(), graphBefore.size());
  for (size_t i = 0; i < graphBefore.size(); ++i) {
    if (i != 1) {
      EXPECT_EQ(graphAfter[i], graphBefore[i]) << "graph field " << i;
    }
  }
  // The node's fields in order, op_type and domain dropped, then op_type "Gemm".
  std::vector<Bytes> nodeExpected;
  for (const Bytes& field : test::fieldsOf(hcPayload(gsSliceOf(graphBefore[1])))) {
    const uint32_t number = field[0] >> 3;
    if (number != onnx::kNodeOpType && number != onnx::kNodeDomain) nodeExpected.push_back(field);
  }
  Bytes gemmType;
  gsPutString(gemmType, onnx::kNodeOpType, "Gemm");
  nodeExpected.push_back(gemmType);
  EXPECT_EQ(test::fieldsOf(hcPayload(gsSliceOf(graphAfter[1]))), nodeExpected);
}

TEST(StudentBlend, ConvertsEveryBlendNodeAndNothingTheSecondTime) {
  const Bytes model = blendModel({.extras = [](ModelBuilder& m) {
    m.node("MatMul", {"A", "B"}, {"Q"}).nodeName("/s2/blend").output("Q", {"N", 5});
  }});
  const Bytes gemm = normalised(model, 2);
  EXPECT_EQ(test::nodesOf(gemm).at(3).opType, "Gemm");
  EXPECT_EQ(normalised(gemm, 0), gemm);
}

TEST(StudentBlendDeclines, OtherNodesAndOperandsGemmRefusesAndLeavesThemByteForByte) {
  const std::vector<std::pair<const char*, Blend>> cases{
      {"another name", {.name = "/s2/blend2"}},
      {"name in another case", {.name = "/S2/blend"}},
      {"no name", {.name = ""}},
      {"another op_type", {.opType = "MatMulInteger"}},
      {"three inputs", {.inputs = {"A", "B", "B"}}},
      {"one input", {.inputs = {"A"}}},
      {"another domain", {.domain = "com.microsoft"}},
      {"opset 10", {.opset = 10}},
      {"three-dimensional operand",
       {.inputs = {"A3", "B"},
        .extras =
            [](ModelBuilder& m) {
              m.input("A3", {1, "N", 4});
            }}},
      {"three-dimensional value",
       {.extras =
            [](ModelBuilder& m) {
              m.valueInfo("A", {1, "N", 4});
            }}},
      {"three-dimensional result",
       {.extras =
            [](ModelBuilder& m) {
              m.valueInfo("P", {1, "N", 5});
            }}},
      {"one-dimensional initializer",
       {.inputs = {"A", "v"},
        .extras =
            [](ModelBuilder& m) {
              m.initializer("v", test::floatTensor({4}, {1, 2, 3, 4}));
            }}},
  };
  for (const auto& [label, blend] : cases) {
    const Bytes model = blendModel(blend);
    EXPECT_EQ(normalised(model, 0), model) << label;
  }
  // A declared rank of 2 is no reason to decline.
  normalised(blendModel({.extras = [](ModelBuilder& m) { m.valueInfo("A", {"N", 4}); }}), 1);
}

TEST(StudentBlendOfMalformedModels, FailWithTheCodecsErrorsAndLeaveTheBytes) {
  test::expectMalformedModelsFailWithCodecErrors(blendModel({}),
                                                 [](Bytes& bytes) { return normaliseStudentBlend(bytes); });
}

}  // namespace
}  // namespace ko
