// The synthetic directors the renderer's tests load: what they compute in ONNX Runtime. The cone the
// split looks for in them is the renderer construction tests' to check, through the lines it prints.
#include "tests/support/authoring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/ort_run.h"

namespace ko {
namespace {

using test::DirectorRecipe;
using test::FloatTensor;

FloatTensor ramp(std::vector<int64_t> shape, float step) {
  FloatTensor t{shape, {}};
  size_t count = 1;
  for (int64_t d : shape) count *= static_cast<size_t>(d);
  for (size_t i = 0; i < count; ++i) t.values.push_back(step * static_cast<float>(i % 97));
  return t;
}

TEST(DirectorModel, MixesThePriorBrightensByThePooledMeanAndMovesThePictureWithTheKeypoints) {
  const int crop = 8;
  const FloatTensor prior = ramp({1, 3, crop, crop}, 0.01f), pooled = ramp({1, 64, 32, 32}, 0.001f);
  const auto run = [&](const FloatTensor& pooled64, const FloatTensor& kd, const FloatTensor& ks) {
    return test::runModel(test::directorModel({.crop = crop}),
                          {{"pooled64", pooled64}, {"P_rgb", prior}, {"kp_driving", kd}, {"kp_source", ks}},
                          {"rgb"})
        .at(0);
  };
  const FloatTensor kp = ramp({1, 21, 3}, 0.02f);
  const FloatTensor still = run(pooled, kp, kp);
  double pooledMean = 0;
  for (float v : pooled.values) pooledMean += v;
  pooledMean /= static_cast<double>(pooled.values.size());
  const float gains[3] = {0.5f, -1.0f, 2.0f};
  ASSERT_EQ(still.shape, (std::vector<int64_t>{1, 3, crop, crop}));
  for (size_t i = 0; i < still.values.size(); ++i) {
    const float p = prior.values[i],
                expected = p + 0.25f * gains[i / (crop * crop)] * p + 0.1f * float(pooledMean);
    EXPECT_NEAR(still.values[i], std::clamp(expected, 0.0f, 1.0f), 1e-5f) << i;
  }
  FloatTensor ks = ramp({1, 21, 3}, 0.0f), kd = ks;
  // A shift of one pixel to the right in the sampled positions: 2 / crop in normalised x, over gain 0.25.
  for (size_t r = 0; r < 21; ++r) kd.values[3 * r] = 2.0f / crop / 0.25f;
  const FloatTensor moved = run(ramp({1, 64, 32, 32}, 0.0f), kd, ks);
  // Output pixel (x, y) now shows the prior's pixel (x + 1, y): 1.125 times it in the red plane.
  EXPECT_NEAR(moved.values[0], 1.125f * prior.values[1], 1e-5f);
  EXPECT_NEAR(moved.values[crop - 1], 1.125f * prior.values[crop - 1], 1e-5f);  // border clamps
}

TEST(DirectorModel, AFeatureSynthesisDirectorRunsOnASymbolicBatch) {
  const FloatTensor rgb = test::runModel(test::directorModel({.crop = 16, .batch = "B", .featSynth = true}),
                                         {{"fs_red", ramp({2, 64, 64, 64}, 0.001f)},
                                          {"pooled", ramp({2, 64, 32, 32}, 0.001f)},
                                          {"kd", ramp({2, 21, 3}, 0.01f)},
                                          {"ks", ramp({2, 21, 3}, 0.02f)}},
                                         {"rgb"})
                              .at(0);
  EXPECT_EQ(rgb.shape, (std::vector<int64_t>{2, 3, 16, 16}));
}

}  // namespace
}  // namespace ko
