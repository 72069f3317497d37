// A bundle's lip contour in the renderer: built from the lip template, spliced (compose v2) or bound
// (Min with the graph's compose alpha) at load, and rasterised into "lip_delivery" before every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "graph/sha256.h"
#include "renderer/renderer.h"
#include "tessera/tessera.h"
#include "tests/support/failure_text.h"
#include "tests/support/ko_lines.h"
#include "tests/support/random_tensor.h"
#include "tests/support/renderer_fixture.h"

namespace ko {
namespace {

using test::DirectorRecipe;
using test::IdentityBuilder;
using test::kModelKey;

constexpr int kCrop = 32;
constexpr int kVerts = 16;
constexpr float kFeather = 2.0f;
const std::vector<int32_t> kLipRows{6, 7, 8, 9};

const DirectorRecipe kComposing{.composeTail = true};
const std::string kContourLine =
    "[ko] compose alpha: LIP CONTOUR (m4b) — Min(a, lip_delivery) bound at load, 16 verts, feather 2.0 px; "
    "the "
    "graph's ellipse is not reachable in this session";

// Test keypoints with the lips placed where the compose ellipse covers them; `open` drops the lower
// lip.
std::vector<float> lipKeypoints(float offset, float open) {
  std::vector<float> kp = test::keypoints(1, offset);
  const float lips[4][2] = {{-0.2f, 0.3f}, {0.2f, 0.3f}, {0.0f, 0.25f}, {0.0f, 0.4f + open}};
  for (int i = 0; i < 4; ++i) {
    kp[static_cast<size_t>(3 * kLipRows[static_cast<size_t>(i)])] = lips[i][0] + offset;
    kp[static_cast<size_t>(3 * kLipRows[static_cast<size_t>(i)] + 1)] = lips[i][1];
  }
  return kp;
}

test::LipTemplateSpec contourSpec(int canvas = kCrop) {
  test::LipTemplateSpec lipFile;
  lipFile.canvas = canvas;
  lipFile.featherPx = kFeather;
  lipFile.uCanon = test::ellipseOutline(kVerts);
  lipFile.lipIdx = kLipRows;
  return lipFile;
}

std::string templateText(const test::LipTemplateSpec& lipFile) {
  return test::lipTemplateJson(lipFile);
}

// The template's compose_v2 entry for `director` under the director's member name.
test::LipTemplateSpec withComposeV2(test::LipTemplateSpec lipFile, const std::vector<uint8_t>& director) {
  lipFile.composeV2.push_back(test::composeV2Entry(director, "model_m4b.onnx"));
  return lipFile;
}

using Rendered = test::RenderedOnce;

Rendered renderOne(const test::OpenedBundle& bundle, const std::vector<float>& kd) {
  return test::renderOnce(bundle, kd, 1);
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// What the bound graph computes in ONNX Runtime, with "lip_delivery" rasterised by the contour.
std::vector<float> boundCrop(const test::OpenedBundle& bundle, const std::vector<float>& kd, int32_t si) {
  std::vector<uint8_t> model = test::directorModel(kComposing);
  std::string reason;
  EXPECT_TRUE(rewriteBindLipContour(model, reason, nullptr, nullptr)) << reason;
  tessera::LipContour contour = tessera::LipContour::fromTemplateJson(bundle.manifest.lipTemplate, kCrop);
  test::FloatTensor lips{{1, 1, kCrop, kCrop}, std::vector<float>(kCrop * kCrop)};
  contour.contourF32Canvas(kd.data(), lips.values.data());
  const std::vector<float> ks = test::keypoints(1, 0.0f);
  test::NamedTensors inputs = test::directInputs(kComposing, *bundle.identity, si, ks.data(), kd.data());
  inputs.emplace_back("lip_delivery", lips);
  return test::runModel(model, inputs, {"rgb"}).at(0).values;
}

class RendererLips : public ::testing::Test {
 protected:
  test::OpenedBundle open(const test::LipTemplateSpec& lipFile, const DirectorRecipe& director = kComposing) {
    return bundles_.open(IdentityBuilder().member("lip_template.v1.json", templateText(lipFile)), director);
  }

  test::RendererBundles bundles_;
};

TEST_F(RendererLips, BindsTheContourAndFeedsItEveryFrame) {
  const test::OpenedBundle bundle = open(contourSpec());
  for (const float open : {0.0f, 0.2f}) {
    const std::vector<float> kd = lipKeypoints(0.02f, open);
    const Rendered rendered = renderOne(bundle, kd);
    EXPECT_TRUE(hasLine(rendered.lines, kContourLine));
    EXPECT_FALSE(hasLine(rendered.lines, test::kEllipseLine));
    const std::vector<float> expected = boundCrop(bundle, kd, 1);
    ASSERT_EQ(rendered.crop.size(), expected.size());
    test::expectCrop(rendered.crop.data(), expected);
  }
}

// Outside the compose region the bound Min leaves the ellipse's zero alpha (the bind's own tests check
// that); inside, the contour must change the picture.
TEST_F(RendererLips, ChangesThePictureAgainstTheEllipse) {
  const std::vector<float> kd = lipKeypoints(0.0f, 0.1f);
  const Rendered contour = renderOne(open(contourSpec()), kd);
  const Rendered ellipse = renderOne(bundles_.open(IdentityBuilder(), kComposing), kd);
  EXPECT_GT(test::maxAbsDifference(contour.crop, ellipse.crop), 0.01f);
}

TEST_F(RendererLips, SplicesComposeV2BeforeAnyOtherRewrite) {
  const std::vector<uint8_t> director = test::directorModel(kComposing);
  const std::vector<float> kd = lipKeypoints(0.01f, 0.15f);
  const Rendered spliced = renderOne(open(withComposeV2(contourSpec(), director)), kd);
  EXPECT_TRUE(
      hasLine(spliced.lines,
              "[ko] compose: COMPOSE V2 (m4b) — lip contour + mouth-window compose + seam match, spliced "
              "at load from the structure lip_template.v1.json carries (sha-bound to this member); "
              "lip_delivery fed from the plate-template-v1 contour, 16 verts, feather 2.0 px"));
  const Rendered bound = renderOne(open(contourSpec()), kd);
  test::expectCrop(spliced.crop.data(), bound.crop, 1e-6f);
}

TEST_F(RendererLips, AStaleStructureFallsBackToTheBind) {
  const std::vector<uint8_t> stale = test::directorModel({.warpGain = 0.5f, .composeTail = true});
  const std::vector<uint8_t> member = test::directorModel(kComposing);
  const Rendered rendered = renderOne(open(withComposeV2(contourSpec(), stale)), lipKeypoints(0.0f, 0.1f));
  const auto cut = [](const std::vector<uint8_t>& bytes) {
    return sha256Hex(bytes.data(), bytes.size()).substr(0, 12);
  };
  EXPECT_TRUE(hasLine(rendered.lines,
                      "[ko] !!! compose v2 NOT spliced (m4b): compose v2 structure was built for member " +
                          cut(stale) + ", not " + cut(member) +
                          " — refusing to splice a stale structure — this session falls back "
                          "to the load-time lip-contour bind (staged rollout)"));
  EXPECT_TRUE(hasLine(rendered.lines, kContourLine));
}

TEST_F(RendererLips, AGraphWithoutTheComposeTailServesItsOwnEllipse) {
  const test::OpenedBundle bundle = open(contourSpec(), DirectorRecipe{});
  const std::vector<float> kd = lipKeypoints(0.0f, 0.1f);
  const Rendered rendered = renderOne(bundle, kd);
  EXPECT_TRUE(
      hasLine(rendered.lines,
              "[ko] !!! lip contour NOT bound to the compose alpha (m4b): the graph does not carry the "
              "unified compose tail — this session serves the graph's own ELLIPSE"));
  const std::vector<float> ks = test::keypoints(1, 0.0f);
  const std::vector<float> direct = test::directCrop({}, *bundle.identity, 1, ks.data(), kd.data());
  test::expectCrop(rendered.crop.data(), direct);
}

TEST_F(RendererLips, RefusesContoursOnTheWrongCanvas) {
  EXPECT_EQ(
      test::rendererFailure(open(contourSpec(64))),
      "lip_template.v1.json: was baked on a 64 canvas but this bundle composes on 32 — refusing to deform "
      "a polygon onto a canvas it does not name");
  const DirectorRecipe smaller{.crop = 16, .composeTail = true};
  EXPECT_EQ(test::rendererFailure(open(contourSpec(), smaller)),
            "Renderer: the director's compose canvas is 16 and this bundle's manifest declares crop 32 — "
            "refusing to bind a lip contour rasterised on the wrong canvas");
  EXPECT_EQ(
      test::rendererFailure(open(withComposeV2(contourSpec(), test::directorModel(smaller)), smaller)),
      "Renderer: the compose v2 graph's lip_delivery canvas is 16 and this bundle's manifest declares crop "
      "32 — refusing to feed a lip contour rasterised on the wrong canvas");
}

TEST_F(RendererLips, EveryBatchPositionGetsItsOwnContour) {
  const DirectorRecipe batched{.batch = 4, .composeTail = true};
  const test::OpenedBundle bundle = open(contourSpec(), batched);
  Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, "");
  std::vector<float> ks = test::keypoints(1, 0.0f), kd = lipKeypoints(0.0f, 0.0f);
  ks.insert(ks.end(), ks.begin(), ks.end());
  const std::vector<float> wide = lipKeypoints(0.05f, 0.2f);
  kd.insert(kd.end(), wide.begin(), wide.end());
  const int32_t si[2] = {1, 2};
  const float* rgb = renderer.render(si, ks.data(), kd.data(), 2);
  const size_t perCrop = 3 * kCrop * kCrop;
  for (size_t b = 0; b < 4; ++b) {
    const size_t used = std::min<size_t>(b, 1);
    const std::vector<float> row(kd.begin() + static_cast<std::ptrdiff_t>(used * 63),
                                 kd.begin() + static_cast<std::ptrdiff_t>(used * 63 + 63));
    SCOPED_TRACE(b);
    test::expectCrop(rgb + b * perCrop, boundCrop(bundle, row, si[used]));
  }
}

}  // namespace
}  // namespace ko
