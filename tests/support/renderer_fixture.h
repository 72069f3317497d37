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

// The line a renderer prints for a bundle without a lip template, whose director composes with its ellipse.
inline constexpr const char* kEllipseLine =
    "[ko] !!! compose alpha: ELLIPSE (m4b) — this bundle carries no lip_template.v1.json, so the director "
    "generates the over-covering elliptical region the contour replaces. BACKFILL IT: "
    "models/velmora-2/tools/carry_lip_template_fleet";

// What constructing a renderer of the bundle's director fails with.
std::string rendererFailure(const OpenedBundle& bundle, const std::string& ep = "");

struct RenderedOnce {
  std::vector<std::string> lines;  // the library's, from construction to destruction
  std::vector<float> crop;
  std::string ep;
};

// Builds a renderer, renders source frame si once from keypoints(1, 0) to `kd`, and destroys it.
RenderedOnce renderOnce(const OpenedBundle& bundle, const std::vector<float>& kd, int32_t si = 0,
                        const std::string& ep = "");

// Every value of the crop within `tolerance` of the expected one.
void expectCrop(const float* crop, const std::vector<float>& expected, float tolerance = 1e-5f);

// The inputs a batch-1 director reads for source frame si: the identity's rows widened to float and
// the keypoints.
NamedTensors directInputs(const DirectorRecipe& director, const Identity& identity, int32_t si,
                          const float* kpSource, const float* kpDriving);

// The rgb output of the director run directly in ONNX Runtime on the identity's rows (widened to
// float) and the keypoints, one source frame at a time on a batch-1 or the recipe's own graph.
std::vector<float> directCrop(const DirectorRecipe& director, const Identity& identity, int32_t si,
                              const float* kpSource, const float* kpDriving);

}  // namespace ko::test
