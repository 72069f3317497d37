// What a renderer returns: the director's own output for the identity's rows and the caller's
// keypoints, however the graph was split or batched at load.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "renderer/renderer.h"
#include "tests/support/failure_text.h"
#include "tests/support/renderer_fixture.h"

namespace ko {
namespace {

using test::DirectorRecipe;
using test::IdentityBuilder;
using test::IdentityRecipe;
using test::kModelKey;
using test::PriorMember;

constexpr size_t kCropFloats = 3 * 32 * 32;

using test::expectCrop;

class RendererOutput : public ::testing::Test {
 protected:
  test::RendererBundles bundles_;
};

TEST_F(RendererOutput, SplitConeCropsEqualTheWholeDirectorRunDirectly) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder({.NT = 5}));
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  EXPECT_EQ(renderer.batch(), 1);
  EXPECT_EQ(renderer.ep(), "cpu");
  EXPECT_EQ(renderer.backend(), "ort");
  EXPECT_EQ(renderer.directorNote(), "");
  // Forwards, a jump and backwards: every ring path, each checked against its own source frame.
  const int32_t order[] = {0, 1, 2, 4, 3};
  for (int32_t si : order) {
    const std::vector<float> ks = test::keypoints(1, 0.01f * si), kd = test::keypoints(1, 0.05f);
    expectCrop(renderer.render(&si, ks.data(), kd.data(), 1),
               test::directCrop({}, *bundle.identity, si, ks.data(), kd.data()));
  }
}

TEST_F(RendererOutput, UnsplitBatchFillsUnusedPositionsWithTheLastUsedOne) {
  const DirectorRecipe director{.batch = 4, .secondPriorConcat = true};
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder(), director);
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  ASSERT_EQ(renderer.batch(), 4);
  const std::vector<float> ks = test::keypoints(2, 0.0f), kd = test::keypoints(2, 0.08f);
  const int32_t si[] = {3, 1};
  const float* rgb = renderer.render(si, ks.data(), kd.data(), 2);
  for (int b = 0; b < 4; ++b) {
    const int used = b < 2 ? b : 1;
    expectCrop(rgb + b * kCropFloats, test::directCrop(director, *bundle.identity, si[used],
                                                       ks.data() + used * 63, kd.data() + used * 63));
  }
  rgb = renderer.render(si, ks.data(), kd.data(), 1);
  for (int b = 1; b < 4; ++b) {
    EXPECT_TRUE(std::equal(rgb, rgb + kCropFloats, rgb + b * kCropFloats)) << "position " << b;
  }
  EXPECT_EQ(test::failureText([&] { renderer.render(si, ks.data(), kd.data(), 0); }), "render: bad n");
  EXPECT_EQ(test::failureText([&] { renderer.render(si, ks.data(), kd.data(), 5); }), "render: bad n");
  EXPECT_EQ(renderer.stats().runCount, 2);
}

TEST_F(RendererOutput, FeatureSynthesisDirectorReadsTheSynthesisedFeatures) {
  const DirectorRecipe director{.featSynth = true};
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder({.prior = PriorMember::FsRed}), director);
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  const std::vector<float> ks = test::keypoints(1, 0.0f), kd = test::keypoints(1, -0.04f);
  const int32_t si = 2;
  expectCrop(renderer.render(&si, ks.data(), kd.data(), 1),
             test::directCrop(director, *bundle.identity, si, ks.data(), kd.data()));
}

}  // namespace
}  // namespace ko
