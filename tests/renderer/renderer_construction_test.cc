// What construction refuses, and the lines it prints about the choices it made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/graph.h"
#include "renderer/renderer.h"
#include "tests/support/failure_text.h"
#include "tests/support/ko_lines.h"
#include "tests/support/renderer_fixture.h"

namespace ko {
namespace {

using test::DirectorRecipe;
using test::IdentityBuilder;
using test::kModelKey;
using test::PriorMember;

const std::string kEllipse = test::kEllipseLine;
const std::string kHoist =
    "[ko] source-cone hoist: 'cone_tip' [1,6,32,32] leaves the per-frame graph and is prefetched per SOURCE "
    "FRAME on one spare core (m4b)";
const std::string kGridSample =
    "[ko] std GridSample -> com.quandrel::GridSampleFast load-time rewrite: 1 node(s) (m4b)";
const std::string kCpuLine = "[ko] director ep=cpu (ORT CPU EP)";

// The library's lines from building a renderer, rendering one frame and destroying it.
std::vector<std::string> lines(const test::OpenedBundle& bundle, const std::string& ep,
                               std::string* usedEp = nullptr) {
  test::RenderedOnce once = test::renderOnce(bundle, test::keypoints(1, 0.0f), 0, ep);
  if (usedEp) *usedEp = once.ep;
  return once.lines;
}

class RendererConstruction : public ::testing::Test {
 protected:
  test::RendererBundles bundles_;
};

using test::rendererFailure;

std::string keypointRefusal(const std::string& path, int rows, const std::string& middle) {
  return "Renderer: HOST KEYPOINT CONTRACT MISMATCH on " + path + " — the graph declares kp_driving with " +
         std::to_string(rows) + " keypoint rows, and this renderer feeds 21 (ko::kHostKpRows, ko/ko.h). " +
         middle +
         "REFUSING AT LOAD rather than dying inside ORT at the first Run. This build must not have been "
         "published "
         "to a host that links this renderer: training/recipe/host_kp_contract is the publish gate that "
         "exists to "
         "prevent it.";
}

TEST_F(RendererConstruction, RefusesGraphsOffTheHostKeypointContract) {
  const test::OpenedBundle wide = bundles_.open(IdentityBuilder(), DirectorRecipe{.kpRows = 22});
  EXPECT_EQ(rendererFailure(wide),
            keypointRefusal(
                wide.manifest.modelPath(kModelKey), 22,
                "That is the recipe_v4 / kd_v4 shape: row 21 is the WIDTH ROW (wn, seal, 0), fed from the "
                "a2x encoder's second output. This engine has no width feed (see ko_a2x_width / "
                "ko_a2x_pull_wn in ko/ko_a2x.h, which nothing on this path calls yet), so it cannot drive "
                "this director. "));
  const test::OpenedBundle narrow = bundles_.open(IdentityBuilder(), DirectorRecipe{.kpRows = 20});
  EXPECT_EQ(rendererFailure(narrow), keypointRefusal(narrow.manifest.modelPath(kModelKey), 20, ""));
  const test::OpenedBundle dynamic = bundles_.open(IdentityBuilder(), DirectorRecipe{.kpRows = -1});
  EXPECT_EQ(rendererFailure(dynamic), test::kNoFailure);
}

TEST_F(RendererConstruction, RefusesWhatItCouldNotFeed) {
  EXPECT_EQ(rendererFailure(bundles_.open(IdentityBuilder(), DirectorRecipe{.batch = "B"})),
            "pooled64 input not found / bad shape");
  EXPECT_EQ(
      rendererFailure(bundles_.open(IdentityBuilder(), DirectorRecipe{.batch = "B", .featSynth = true})),
      "pooled input not found / bad shape");
  EXPECT_EQ(rendererFailure(bundles_.open(IdentityBuilder(), DirectorRecipe{.featSynth = true})),
            "FeatSynth graph but bundle lacks fs_red.f16");
  EXPECT_EQ(
      rendererFailure(bundles_.open(IdentityBuilder({.prior = PriorMember::FsRed}))),
      "m4b graph (P_rgb input) but this bundle carries no warp prior: neither P.f16, nor fs_red.f16, nor a "
      "P_hevc.mov to play in place is present, so ko::Identity mapped NOTHING and Identity::P(si) would be "
      "an "
      "offset from a null pointer — a SEGFAULT on the first frame, not a refusal. REFUSING to create a "
      "session.");
  EXPECT_EQ(rendererFailure(bundles_.open(IdentityBuilder().member("lip_template.v1.json", "{}"))),
            "lip_template.v1.json: carries no string `format`");
}

TEST_F(RendererConstruction, RefusesUnknownAndUnsafeProviders) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder());
  EXPECT_EQ(
      rendererFailure(bundle, "xnnpack-fast"),
      "Renderer: ep 'xnnpack-fast' is REFUSED. This renderer rewrites its graph to Quandrel custom-domain "
      "nodes "
      "(com.quandrel::GridSampleFast, and com.quandrel::WarpDirector wherever KO_WARP_NODE is on), and ORT's "
      "XNNPACK execution provider SEGFAULTS while partitioning a graph that carries them — measured "
      "2026-09-15 "
      "on a published velmora2-android AAR, null deref inside libonnxruntime.so at session create, on both a "
      "door-served and a hand-staged copy of the same identity. It is a signal, not an exception, so it "
      "cannot "
      "be caught and reported. Use the default ep (\"\", the ORT CPU EP), which opens the same bundle on the "
      "same bytes.");
  EXPECT_EQ(rendererFailure(bundle, "foo"), "Renderer: unknown ep 'foo'");
}

TEST_F(RendererConstruction, RefusesAMissingDirectorAndABakedGraphWithoutItsKernel) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder());
  EXPECT_EQ(test::failureText([&] { Renderer(bundle.manifest, *bundle.identity, "absent", 1, ""); }),
            "Renderer: cannot open " + bundle.manifest.modelPath("absent"));

  std::vector<uint8_t> baked = test::directorModel();
  ASSERT_EQ(rewriteGridSampleToFast(baked), 1u);
  const test::OpenedBundle bakedBundle = bundles_.open(IdentityBuilder(), baked);
  test::ScopedEnv fastOff("KO_GS_FAST", "0");
  EXPECT_EQ(
      rendererFailure(bakedBundle),
      "Renderer: KO_GS_FAST=0 (or QUANDREL_VELMORA2_GRIDSAMPLE_FAST=0, which sets it) was asked for, but " +
          bakedBundle.manifest.modelPath(kModelKey) +
          " has com.quandrel::GridSampleFast BAKED INTO THE GRAPH. That flag disables the custom-op "
          "registration, so there would be no kernel to bind and this session would die inside ORT with "
          "'GridSampleFast(-1) is not a registered function/op'. There is no standard-GridSample arm on this "
          "bundle to measure: the artifact itself is non-standard. Run the A/B on a STANDARD-ONNX bundle "
          "(the "
          "shipping format since INFERENCE_STANDARDIZATION.md #1), or unset the flag to load this one.");
  EXPECT_EQ(lines(bundle, ""), (std::vector<std::string>{kEllipse, kHoist, kCpuLine}));
}

TEST_F(RendererConstruction, PrintsTheRewritesAndTheProviderItSettledOn) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder());
  EXPECT_EQ(lines(bundle, ""), (std::vector<std::string>{kEllipse, kHoist, kGridSample, kCpuLine}));

  std::string ep;
  EXPECT_EQ(lines(bundle, "neon", &ep),
            (std::vector<std::string>{
                "[ko] fp16 NEON backend requested but unavailable on this build/CPU; using ORT", kEllipse,
                kHoist, kGridSample, kCpuLine}));
  EXPECT_EQ(ep, "cpu");

  const std::vector<std::string> coreml = lines(bundle, "coreml:gpu", &ep);
  EXPECT_EQ(ep, "cpu");
  ASSERT_EQ(coreml.size(), 5u);
  EXPECT_TRUE(coreml[0].starts_with("[ko] CoreML EP session refused: ")) << coreml[0];
  EXPECT_TRUE(coreml[0].ends_with(" — falling back to the ORT CPU EP")) << coreml[0];
  EXPECT_EQ(std::vector<std::string>(coreml.begin() + 1, coreml.end()),
            (std::vector<std::string>{kEllipse, kHoist, kGridSample, kCpuLine}));

  const test::OpenedBundle unsplittable =
      bundles_.open(IdentityBuilder(), DirectorRecipe{.secondPriorConcat = true});
  test::ScopedEnv rewriteOff("KO_GS_REWRITE", "0");
  EXPECT_EQ(
      lines(unsplittable, ""),
      (std::vector<std::string>{
          "[ko] KO_GS_REWRITE=0: load-time std GridSample -> com.quandrel::GridSampleFast rewrite DISABLED "
          "(m4b); the custom op is still registered, so a baked bundle loads and runs its baked kernel. A "
          "standard bundle now runs ORT's own GridSample.",
          kEllipse,
          "[ko] source-cone hoist NOT applied (m4b): expected exactly one Concat consuming P_rgb, found 2",
          kCpuLine}));
}

TEST_F(RendererConstruction, WarpNodeSubsumesTheSourceCone) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder());
  test::ScopedEnv warp("KO_WARP_NODE", "1");
  test::ScopedEnv fastOff("KO_GS_FAST", "0");  // the rewritten graph still needs "com.quandrel"
  const std::vector<std::string> printed = lines(bundle, "");
  ASSERT_EQ(printed.size(), 4u);
  EXPECT_TRUE(printed[0].starts_with("[ko] director warp -> com.quandrel::WarpDirector (")) << printed[0];
  EXPECT_EQ(printed[1], kEllipse);
  EXPECT_EQ(printed[2],
            "[ko] source-cone hoist SKIPPED (m4b): the warp node subsumes the cone — there is nothing left "
            "to hoist");
  EXPECT_EQ(printed[3], kCpuLine);
}

TEST_F(RendererConstruction, ProfilingSummarisesTheRunsAtDestruction) {
  const test::OpenedBundle bundle = bundles_.open(IdentityBuilder());
  test::TempDir profiles;
  test::ScopedEnv profile("KO_ORT_PROFILE", (profiles / "ko").c_str());
  const std::vector<std::string> printed = lines(bundle, "");
  ASSERT_EQ(printed.size(), 6u);
  EXPECT_TRUE(printed[4].starts_with("[ko_ort_profile] 1 frames: ")) << printed[4];
  EXPECT_TRUE(printed[4].ends_with(" ms/frame in Session::Run")) << printed[4];
  EXPECT_TRUE(printed[5].starts_with("[ko_ort_profile] " + profiles.path() + "/ko")) << printed[5];
}

}  // namespace
}  // namespace ko
