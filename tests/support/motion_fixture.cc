#include "tests/support/motion_fixture.h"

#include "bundle/bundle.h"

namespace ko::test {

MotionFixture::MotionFixture(const authoring::MotionModelRecipe& recipe) {
  authoring::writeMotionModelDir(dir.path(), recipe);
}

std::vector<float> MotionFixture::run(const char* file, const NamedTensors& inputs,
                                      const char* output) const {
  const std::string bytes = readFile(dir / file);
  return runModel(std::vector<uint8_t>(bytes.begin(), bytes.end()), inputs, {output}).at(0).values;
}

void pullAll(motion::MotionStream& stream, PulledFrames& frames, int64_t max) {
  std::vector<int32_t> rows(static_cast<size_t>(max));
  std::vector<float> xs(static_cast<size_t>(max) * kKeypointValues);
  std::vector<float> kp(xs.size());
  for (;;) {
    const int64_t got = stream.pull(rows.data(), xs.data(), kp.data(), max);
    if (got == 0) return;
    frames.append(rows.data(), xs.data(), kp.data(), nullptr, got);
  }
}

}  // namespace ko::test
