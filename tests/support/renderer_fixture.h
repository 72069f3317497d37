// Synthetic bundles with a director member, opened the way a session opens them, and the direct ONNX
// Runtime run of the same director that a rendered crop is checked against.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "tests/support/authoring.h"
#include "tests/support/identity_builder.h"
#include "tests/support/ort_run.h"
#include "tests/support/temp_dir.h"

namespace ko::test {

inline constexpr const char* kModelKey = "m4b";

struct OpenedBundle {
  Manifest manifest;
  std::unique_ptr<Identity> identity;
};

// Writes the identity with directorModel(director) as "model_m4b.onnx", and opens it.
class RendererBundles {
 public:
  OpenedBundle open(IdentityBuilder identity, const DirectorRecipe& director = {});
  OpenedBundle open(IdentityBuilder identity, const std::vector<uint8_t>& model);
  // The same bundle written only; returns its directory.
  std::string write(IdentityBuilder identity, const DirectorRecipe& director = {});
  std::string write(IdentityBuilder identity, const std::vector<uint8_t>& model);

 private:
  TempDir tmp_;
  int count_ = 0;
};

// Keypoint sets of 21 x 3 floats that differ per set and per row, so the warp moves the picture.
std::vector<float> keypoints(int sets, float offset);

// The inputs a batch-1 director reads for source frame si: the identity's rows widened to float and
// the keypoints.
NamedTensors directInputs(const DirectorRecipe& director, const Identity& identity, int32_t si,
                          const float* kpSource, const float* kpDriving);

// The rgb output of the director run directly in ONNX Runtime on the identity's rows (widened to
// float) and the keypoints, one source frame at a time on a batch-1 or the recipe's own graph.
std::vector<float> directCrop(const DirectorRecipe& director, const Identity& identity, int32_t si,
                              const float* kpSource, const float* kpDriving);

}  // namespace ko::test
