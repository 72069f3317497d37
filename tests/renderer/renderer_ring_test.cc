// The split source cone: the ring the worker fills ahead of the frame that needs it, what poisons it,
// and a renderer going away while its worker is busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "renderer/renderer.h"
#include "tests/support/failure_text.h"
#include "tests/support/movie_writer.h"
#include "tests/support/renderer_fixture.h"

namespace ko {
namespace {

using test::IdentityBuilder;
using test::kModelKey;
using test::PriorMember;

class SourceConeRing : public ::testing::Test {
 protected:
  const float* render(Renderer& renderer, int32_t si) {
    return renderer.render(&si, ks_.data(), kd_.data(), 1);
  }

  test::RendererBundles bundles_;
  std::vector<float> ks_ = test::keypoints(1, 0.0f), kd_ = test::keypoints(1, 0.02f);
};

TEST_F(SourceConeRing, ForwardPlaybackMissesOnlyTheFirstFrame) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder({.NT = 6}));
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  for (int32_t si = 0; si < 6; ++si) render(renderer, si);
  RenderStats stats = renderer.stats();
  EXPECT_EQ(stats.misses, 1);
  EXPECT_EQ(stats.hits, 5);
  EXPECT_EQ(stats.runCount, 6);
  EXPECT_GE(stats.runMs, 0.0);
  // At the last frame the loop is taken to turn around, so the wrap to 0 misses once; from then on the
  // prediction wraps with it.
  for (int32_t si : {0, 1, 2, 3, 4, 5, 0, 1}) render(renderer, si);
  stats = renderer.stats();
  EXPECT_EQ(stats.misses, 2);
  EXPECT_EQ(stats.hits, 12);
  render(renderer, 4);  // a jump is not predicted
  EXPECT_EQ(renderer.stats().misses, 3);
}

TEST_F(SourceConeRing, APriorThatCannotProduceARowPoisonsEveryLaterRender) {
  const test::OpenedBundle bundle = bundles_.open(
      IdentityBuilder({.prior = PriorMember::Movie}).member("P_hevc.mov", "not a movie at all"));
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  const std::string first = test::failureText([&] { render(renderer, 0); });
  const std::string sentence = "Renderer: the hoisted source cone failed in ORT — ";
  ASSERT_EQ(first.rfind(sentence, 0), 0u) << first;
  EXPECT_GT(first.size(), sentence.size());
  for (int32_t si : {0, 1, 2}) EXPECT_EQ(test::failureText([&] { render(renderer, si); }), first);
}

TEST_F(SourceConeRing, AFailedPrefetchPoisonsTheRingForTheFramesAfterIt) {
  IdentityBuilder identity({.prior = PriorMember::Movie});
  test::MovieRecipe cut = identity.priorMovieRecipe();
  cut.indexFirst = true;  // the index survives the cut: frame 0 decodes, the later frames' data is gone
  std::string movie = test::movieBytes(cut, ".mov");
  movie.resize(movie.size() / 2);
  const test::OpenedBundle bundle = bundles_.open(identity.member("P_hevc.mov", movie));
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  // The movie cursor decodes ahead, so the fault may already surface while frame 0 is prepared; from
  // the first failure on, every render fails with it.
  std::vector<std::string> failures;
  for (int32_t si : {0, 1, 2, 0}) failures.push_back(test::failureText([&] { render(renderer, si); }));
  const auto first = std::find_if(failures.begin(), failures.end(),
                                  [](const std::string& text) { return text != test::kNoFailure; });
  ASSERT_NE(first, failures.end());
  EXPECT_EQ(first->rfind("Renderer: the hoisted source cone failed in ORT — ", 0), 0u) << *first;
  for (auto later = first; later != failures.end(); ++later) EXPECT_EQ(*later, *first);
}

TEST_F(SourceConeRing, DestroyingWhileTheWorkerPrefetchesReturns) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder());
  for (int round = 0; round < 3; ++round) {
    Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
    render(renderer, round);  // schedules the next frame's prefetch, then the renderer goes away
  }
  Renderer moved(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  render(moved, 1);
  Renderer owner(std::move(moved));
  render(owner, 2);
  EXPECT_EQ(owner.stats().hits, 1);
}

}  // namespace
}  // namespace ko
