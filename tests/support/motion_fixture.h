// A synthetic motion directory on disk for one test, and the networks' raw runs that reference
// computations in the tests start from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/ort_run.h"
#include "tests/support/temp_dir.h"
#include "tools/authoring/motion_models.h"

namespace ko::test {

class MotionFixture {
 public:
  explicit MotionFixture(const authoring::MotionModelRecipe& recipe = {});

  std::unique_ptr<motion::MotionStream> stream(int threads = 1) const {
    return std::make_unique<motion::MotionStream>(dir.path(), threads, "");
  }
  // A network of the directory run once on one thread in ONNX Runtime: inputs by name, output 0.
  std::vector<float> run(const char* file, const NamedTensors& inputs, const char* output) const;

  TempDir dir;
};

// Pulls until nothing more comes (at most max frames per call), appending to frames.
void pullAll(motion::MotionStream& stream, PulledFrames& frames, int64_t max = 32);

}  // namespace ko::test
