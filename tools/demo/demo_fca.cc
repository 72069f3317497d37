#include "tools/demo/demo_fca.h"

#include "audio/audio.h"
#include "tools/authoring/model_writer.h"
#include "tools/demo/demo_opening.h"

namespace ko::demo {
namespace {

using authoring::floatTensor;
using authoring::int64Tensor;
using authoring::ModelBuilder;

constexpr int kContextFrames = static_cast<int>(kFcaContextOffsets.size());
// Maps the mean squared change of speech's features onto gates below the rail.
constexpr float kGateGain = 8.0f;

// "cond" -> "gate" [1, 1]: tanh of the gain times the mean squared change between neighbouring frames.
void addChangeGate(ModelBuilder& m) {
  m.initializer("fca_frames_shape", int64Tensor({2}, {kContextFrames, kFeatureWidth}))
      .initializer("fca_first", int64Tensor({1}, {0}))
      .initializer("fca_second", int64Tensor({1}, {1}))
      .initializer("fca_last", int64Tensor({1}, {kContextFrames - 1}))
      .initializer("fca_end", int64Tensor({1}, {kContextFrames}))
      .initializer("fca_axis", int64Tensor({1}, {0}))
      .initializer("fca_gate_gain", floatTensor({}, {kGateGain}))
      .node("Reshape", {"cond", "fca_frames_shape"}, {"fca_frames"})
      .node("Slice", {"fca_frames", "fca_first", "fca_last", "fca_axis"}, {"fca_before"})
      .node("Slice", {"fca_frames", "fca_second", "fca_end", "fca_axis"}, {"fca_after"})
      .node("Sub", {"fca_after", "fca_before"}, {"fca_change"})
      .node("Mul", {"fca_change", "fca_change"}, {"fca_change_sq"})
      .node("ReduceMean", {"fca_change_sq"}, {"fca_energy"})
      .attrInts("axes", {0, 1})
      .attr("keepdims", 1)
      .node("Mul", {"fca_energy", "fca_gate_gain"}, {"fca_scaled"})
      .node("Tanh", {"fca_scaled"}, {"gate"});
}

}  // namespace

std::vector<uint8_t> demoFcaStream(const std::vector<float>& reach) {
  std::vector<float> carried(kFcaStateValues, 0.0f);
  carried[0] = 1.0f;
  ModelBuilder m;
  // "prev" is fed by the model but not needed: the state carries all the network remembers.
  m.opset(17)
      .input("cond", {1, kFcaCondValues})
      .input("prev", {1, kKeypointValues})
      .input("h", {1, kFcaStateValues});
  addChangeGate(m);
  m.initializer("fca_state_first", int64Tensor({1}, {0}))
      .initializer("fca_state_end", int64Tensor({1}, {1}))
      .initializer("fca_state_axis", int64Tensor({1}, {1}))
      .initializer("fca_state_slot", floatTensor({1, kFcaStateValues}, carried))
      .node("Slice", {"h", "fca_state_first", "fca_state_end", "fca_state_axis"}, {"fca_prev_state"});
  addMouthOpening(m, "fca_", "gate", "fca_prev_state", reach);
  m.node("MatMul", {"fca_state", "fca_state_slot"}, {"hn"})
      .output("m", {1, kKeypointValues})
      .output("hn", {1, kFcaStateValues});
  return m.bytes();
}

}  // namespace ko::demo
