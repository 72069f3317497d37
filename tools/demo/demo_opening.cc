#include "tools/demo/demo_opening.h"

#include "audio/audio.h"

namespace ko::demo {
namespace {

constexpr float kDriveGain = 0.6f;
constexpr float kCarry = 0.5f;

}  // namespace

void addMouthOpening(authoring::ModelBuilder& m, const std::string& prefix, const std::string& gate,
                     const std::string& previous, const std::vector<float>& scale) {
  m.initializer(prefix + "drive", authoring::floatTensor({}, {kDriveGain}))
      .initializer(prefix + "carry", authoring::floatTensor({}, {kCarry}))
      .initializer(prefix + "scale", authoring::floatTensor({1, kKeypointValues}, scale))
      .node("Mul", {gate, prefix + "drive"}, {prefix + "driven"})
      .node("Mul", {previous, prefix + "carry"}, {prefix + "carried"})
      .node("Add", {prefix + "driven", prefix + "carried"}, {prefix + "pre"})
      .node("Tanh", {prefix + "pre"}, {prefix + "state"})
      .node("Tanh", {prefix + "state"}, {prefix + "opening"})
      .node("Mul", {prefix + "opening", prefix + "scale"}, {"m"});
}

}  // namespace ko::demo
