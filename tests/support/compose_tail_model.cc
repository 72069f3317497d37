#include "tests/support/compose_tail_model.h"

#include <string>

#include "tests/support/authoring.h"

namespace ko::test {
namespace {

size_t countOf(const std::vector<int64_t>& dims) {
  size_t count = 1;
  for (int64_t dim : dims) count *= static_cast<size_t>(dim);
  return count;
}

TensorData filled(const std::vector<int64_t>& dims, float value) {
  return floatTensor(dims, std::vector<float>(countOf(dims), value));
}

void addInputs(ModelBuilder& m, const ComposeTail& tail) {
  const Dim batch = tail.batch > 0 ? Dim(tail.batch) : Dim("N");
  if (tail.prgbRank == 4) {
    m.input("P_rgb", {batch, 3, tail.side, tail.side});
  } else {
    m.input("P_rgb", {3, tail.side, tail.side});
  }
  if (tail.kpDriving) m.input("kp_driving", {batch, 21, 3});
  if (tail.pooled64Batch != 0) m.input("pooled64", {tail.pooled64Batch, 64});
  const Dim side(tail.side);
  m.output("out", {batch, 3, side, side});
  if (tail.alphaOutput) m.output(kComposeAlpha, {batch, 1, side, side});
}

void addInverse(ModelBuilder& m) {
  m.node("Sub", {"one", kComposeAlpha}, {"inverse"});
}

void addAlpha(ModelBuilder& m, const ComposeTail& tail) {
  m.node("ReduceMean", {"P_rgb"}, {"gray"}).attrInts("axes", {1}).attr("keepdims", 1);
  m.node("Mul", {"gray", "gain"}, {"gained"});
  m.node("Sub", {"gained", "offset"}, {"map"});
  if (tail.alphaOpType == "Clip") {
    m.node("Clip", {"map", "lo", "hi"}, {kComposeAlpha}).nodeName("compose_clip");
  } else {
    m.node(tail.alphaOpType, {"map"}, {kComposeAlpha});
  }
  m.initializer("gain", floatTensor({}, {3.0f}))
      .initializer("offset", floatTensor({}, {0.8f}))
      .initializer("lo", filled(tail.loDims, 0.0f))
      .initializer("hi", filled(tail.hiDims, 1.0f));
}

void addBlend(ModelBuilder& m, const ComposeTail& tail) {
  if (tail.oneAsConstant) {
    m.node("Constant", {}, {"one"}).attr("value", floatTensor({}, {tail.one}));
  } else {
    m.initializer("one", floatTensor({}, {tail.one}));
  }
  if (!tail.inverseFirst) addInverse(m);
  m.node("Sigmoid", {"P_rgb"}, {"mouth"});
  m.node("Tanh", {"P_rgb"}, {"backdrop"});
  if (tail.swapped) {
    m.node("Mul", {"mouth", kComposeAlpha}, {"front"});
  } else {
    m.node("Mul", {kComposeAlpha, "mouth"}, {"front"});
  }
  m.node("Mul", {"inverse", "backdrop"}, {"back"});
  const std::string last = tail.passThroughSteps == 0 ? "out" : "blend";
  if (tail.swapped) {
    m.node("Add", {"back", "front"}, {last});
  } else {
    m.node("Add", {"front", "back"}, {last});
  }
}

void addSteps(ModelBuilder& m, const ComposeTail& tail) {
  for (int step = 0; step < tail.passThroughSteps; ++step) {
    const std::string from = step == 0 ? "blend" : "step" + std::to_string(step - 1);
    const std::string to = step + 1 == tail.passThroughSteps ? "out" : "step" + std::to_string(step);
    if (step % 2 == 0) {
      m.node("Identity", {from}, {to});
    } else {
      m.node("Cast", {from}, {to}).attr("to", onnx::kFloat);
    }
  }
}

}  // namespace

std::vector<uint8_t> composeTailModel(const ComposeTail& tail) {
  ModelBuilder m;
  m.opset(17);
  addInputs(m, tail);
  if (tail.inverseFirst) addInverse(m);
  addAlpha(m, tail);
  addBlend(m, tail);
  addSteps(m, tail);
  return m.bytes();
}

}  // namespace ko::test
