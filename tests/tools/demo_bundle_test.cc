// The demo identity in miniature: it opens and renders through the C interface, its director warps
// only where the keypoints move and leaves the prior alone when they stay, and every generation writes
// the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bundle/file_io.h"
#include "graph/compose_v2_splice.h"
#include "ko/ko.h"
#include "simd/half.h"
#include "tessera/tessera.h"
#include "tests/support/c_handles.h"
#include "tests/support/ort_run.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_geometry.h"
#include "tools/demo/demo_identity.h"
#include "tools/demo/demo_keypoints.h"

namespace ko {
namespace {

using demo::DemoRecipe;

// A crop region in normalised coordinates (demo_geometry.h).
struct Region {
  double left, top, right, bottom;
  bool holds(double x, double y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// Around the mouth and the chin below it, with room for the lower lip's reach.
constexpr Region kMouthRegion{-0.5, 0.1, 0.5, 1.0};
constexpr Region kLipsOnly{-demo::geometry::kMouthHalfWidth, demo::geometry::kMouthY - 0.06,
                           demo::geometry::kMouthHalfWidth, demo::geometry::kMouthY + 0.12};

std::map<std::string, std::string> filesUnder(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(dir).string()] = readFile(entry.path());
  }
  return files;
}

class DemoBundle : public ::testing::Test {
 protected:
  DemoBundle() { demo::writeDemoBundle(recipe_, dir_.path()); }

  test::SessionHandle open() const {
    return test::SessionHandle(ko_create(dir_.path().c_str(), demo::kDemoModelKey, 1, nullptr));
  }
  std::vector<float> crop(const float* rendered) const {
    return std::vector<float>(rendered, rendered + planeSize() * 3);
  }
  size_t planeSize() const { return static_cast<size_t>(recipe_.crop) * static_cast<size_t>(recipe_.crop); }
  // Row `row` of a member holding rows of `count` halves, widened to floats.
  std::vector<float> halfRow(const std::string& member, int row, size_t count) const {
    const std::string bytes = readFile(dir_ / member);
    std::vector<uint16_t> halves(count);
    std::memcpy(halves.data(), bytes.data() + static_cast<size_t>(row) * count * 2, count * 2);
    std::vector<float> values(count);
    halfToFloat(halves.data(), values.data(), count);
    return values;
  }
  std::vector<float> prior(int si) const { return halfRow("P.f16", si, 3 * planeSize()); }
  // The bundle's director run in ONNX Runtime on source frame si's prior and pooled features, with the
  // compose v2 graph its lip template carries spliced in and the lip contour rasterised for kd.
  std::vector<float> runtimeCrop(int si, const std::vector<float>& ks, const std::vector<float>& kd) const {
    const std::string model = readFile(dir_ / "model_render.onnx");
    const std::string lips = readFile(dir_ / "lip_template.v1.json");
    std::vector<uint8_t> spliced(model.begin(), model.end()), structure;
    std::string source, reason, digest;
    EXPECT_EQ(
        tessera::composeV2StructureFromTemplate(lips, "model_render.onnx", structure, source, reason, &digest),
        1);
    EXPECT_TRUE(spliceComposeV2(spliced, structure, reason, source, nullptr, nullptr, digest)) << reason;
    const int64_t side = recipe_.crop;
    test::FloatTensor delivery{{1, 1, side, side}, std::vector<float>(planeSize())};
    tessera::LipContour::fromTemplateJson(lips, recipe_.crop)
        .contourF32Canvas(kd.data(), delivery.values.data());
    return test::runModel(spliced,
                          {{"pooled64", {{1, 64, 32, 32}, halfRow("pooled64.f16", si, 64 * 32 * 32)}},
                           {"P_rgb", {{1, 3, side, side}, prior(si)}},
                           {"kp_driving", {{1, demo::kKeypointCount, 3}, kd}},
                           {"kp_source", {{1, demo::kKeypointCount, 3}, ks}},
                           {"lip_delivery", delivery}},
                          {"rgb"})[0]
        .values;
  }
  // The largest difference inside and outside `region`, over every channel.
  std::pair<float, float> largestDifference(const std::vector<float>& a, const std::vector<float>& b,
                                            const Region& region) const {
    std::pair<float, float> largest{0.0f, 0.0f};
    for (size_t i = 0; i < a.size(); ++i) {
      const size_t pixel = i % planeSize();
      const double x =
          (static_cast<double>(pixel % static_cast<size_t>(recipe_.crop)) + 0.5) * 2.0 / recipe_.crop - 1.0;
      const double y =
          (static_cast<double>(pixel / static_cast<size_t>(recipe_.crop)) + 0.5) * 2.0 / recipe_.crop - 1.0;
      float& slot = region.holds(x, y) ? largest.first : largest.second;
      slot = std::max(slot, std::abs(a[i] - b[i]));
    }
    return largest;
  }

  DemoRecipe recipe_ = demo::smallRecipe();
  test::TempDir dir_;
};

void expectNear(const std::vector<float>& got, const std::vector<float>& expected, float tolerance) {
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], expected[i], tolerance) << "at " << i;
}

TEST_F(DemoBundle, OpensAndRendersEveryIdleRow) {
  const test::SessionHandle session = open();
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  EXPECT_EQ(ko_nt(session.get()), recipe_.NT);
  EXPECT_EQ(ko_crop(session.get()), recipe_.crop);
  EXPECT_EQ(ko_width(session.get()), recipe_.W);
  EXPECT_EQ(ko_drive_frames(session.get()), recipe_.frames);
  for (int t = 0; t < recipe_.frames; ++t) {
    const float* rendered = ko_render_drive_crop(session.get(), t);
    ASSERT_NE(rendered, nullptr) << "row " << t << ": " << ko_last_error();
    for (const float value : crop(rendered)) ASSERT_TRUE(value >= 0.0f && value <= 1.0f) << "row " << t;
  }
  EXPECT_NE(ko_paste_last(session.get(), 0), nullptr) << ko_last_error();
}

TEST_F(DemoBundle, RowsWithTheMouthOpenDifferAtTheLipsFromRowsWithItClosed) {
  int openRow = 0, closedRow = 0;
  for (int t = 0; t < recipe_.frames; ++t) {
    const double mouth = demo::idlePose(t, recipe_.frames).mouth;
    if (mouth > demo::idlePose(openRow, recipe_.frames).mouth) openRow = t;
    if (mouth < demo::idlePose(closedRow, recipe_.frames).mouth) closedRow = t;
  }
  ASSERT_GT(demo::idlePose(openRow, recipe_.frames).mouth, 0.5);
  ASSERT_EQ(demo::idlePose(closedRow, recipe_.frames).mouth, 0.0);
  const test::SessionHandle session = open();
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_drive_crop(session.get(), openRow);
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  const std::vector<float> opened = crop(rendered);
  rendered = ko_render_drive_crop(session.get(), closedRow);
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  EXPECT_GT(largestDifference(opened, crop(rendered), kLipsOnly).first, 0.2f);
}

TEST_F(DemoBundle, MovingTheLowerLipChangesTheCropOnlyAroundTheMouth) {
  const std::vector<float> ks = demo::neutralKeypoints();
  std::vector<float> kd = ks;
  kd[3 * demo::kLowerLip + 1] += 0.07f;
  const test::SessionHandle session = open();
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_kp_crop(session.get(), 1, ks.data(), ks.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  const std::vector<float> still = crop(rendered);
  rendered = ko_render_kp_crop(session.get(), 1, ks.data(), kd.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  const auto [inside, outside] = largestDifference(still, crop(rendered), kMouthRegion);
  EXPECT_GT(inside, 0.2f);
  // The lip's Gaussian reach leaves only round-off beyond the region.
  EXPECT_LT(outside, 1e-5f);
}

TEST_F(DemoBundle, StillKeypointsRenderThePriorInTheRuntimeAndThroughTheLibrary) {
  const std::vector<float> ks = demo::neutralKeypoints();
  const int si = 2;
  expectNear(runtimeCrop(si, ks, ks), prior(si), 1e-5f);
  const test::SessionHandle session = open();
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_kp_crop(session.get(), si, ks.data(), ks.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  expectNear(crop(rendered), prior(si), 1e-5f);
}

TEST_F(DemoBundle, TheLibraryRendersADrivenPoseAsTheRuntimeRunsTheDirector) {
  demo::IdlePose pose;
  pose.mouth = 0.8;
  pose.blink = 1.0;
  pose.swayX = 0.02;
  const std::vector<float> ks = demo::neutralKeypoints();
  const std::vector<float> kd = demo::posedKeypoints(pose);
  const test::SessionHandle session = open();
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_kp_crop(session.get(), 3, ks.data(), kd.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  expectNear(crop(rendered), runtimeCrop(3, ks, kd), 1e-5f);
}

TEST(DemoIdleLoop, WalksTheSourceFramesWithoutAJumpAcrossItsSeam) {
  DemoRecipe recipe = demo::smallRecipe();
  recipe.frames = 11;  // not a whole number of round trips over the source frames
  std::string bytes;
  for (const auto& [name, payload] : demo::demoBundle(recipe).members()) {
    if (name == "drive/si.i32") bytes = payload;
  }
  ASSERT_EQ(bytes.size(), static_cast<size_t>(recipe.frames) * 4);
  std::vector<int32_t> si(static_cast<size_t>(recipe.frames));
  std::memcpy(si.data(), bytes.data(), bytes.size());
  EXPECT_EQ(*std::max_element(si.begin(), si.end()), recipe.NT - 1);
  for (size_t t = 0; t < si.size(); ++t) {
    EXPECT_GE(si[t], 0);
    EXPECT_LE(std::abs(si[t] - si[(t + 1) % si.size()]), 1) << "after row " << t;
  }
}

TEST_F(DemoBundle, EveryGenerationWritesTheSameBytes) {
  const test::TempDir again;
  demo::writeDemoBundle(recipe_, again.path());
  const std::map<std::string, std::string> first = filesUnder(dir_.path());
  const std::map<std::string, std::string> second = filesUnder(again.path());
  ASSERT_EQ(first.size(), 22u);
  for (const auto& [name, bytes] : first) {
    ASSERT_TRUE(second.contains(name)) << name;
    EXPECT_TRUE(second.at(name) == bytes) << name << " differs between generations";
  }
  EXPECT_EQ(first.size(), second.size());
}

}  // namespace
}  // namespace ko
