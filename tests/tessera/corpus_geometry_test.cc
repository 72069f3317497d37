#include "tessera/corpus_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "tessera/unified_pi.h"
#include "tests/support/failure_text.h"
#include "tests/support/pi_frames.h"

namespace ko::tessera {
namespace {

using ko::test::failureText;

constexpr int32_t kN = 256;

std::string twoDecimals(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

TEST(CorpusGeometry, TableRowsInOrder) {
  const auto& table = corpusGeometries();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_STREQ(table[0].name, "v1");
  EXPECT_EQ(table[0].pad_x, 0.05f);
  EXPECT_EQ(table[0].down, 0.015f);
  EXPECT_STREQ(table[1].name, "v2");
  EXPECT_EQ(table[1].pad_x, 0.10f);
  EXPECT_EQ(table[1].down, 0.074f);
  EXPECT_STREQ(table[2].name, "v3");
  EXPECT_EQ(table[2].pad_x, 0.14f);
  EXPECT_EQ(table[2].pad_y, 0.08f);
}

TEST(CorpusGeometry, ChoosesTheClearlyNearestRow) {
  const double canon[2] = {128.0, 190.25};
  EXPECT_EQ(chooseCorpusGeometry({2.0, 5.0, 9.0}, canon), 0u);
  EXPECT_EQ(chooseCorpusGeometry({9.0, 5.0, 2.0}, canon), 2u);
  EXPECT_EQ(chooseCorpusGeometry({8.0, 11.0, 20.0}, canon), 0u);
  EXPECT_EQ(
      failureText([&] {
        chooseCorpusGeometry({2.0, 4.9, 9.0}, canon);
      }),
      "teeth-pi: corpus pi geometry is AMBIGUOUS (best two within 3.00px) — v1=2.00px v2=4.90px v3=9.00px — "
      "refusing to guess the bank frame");
  // Equal distances keep table order in the list.
  EXPECT_EQ(
      failureText([&] {
        chooseCorpusGeometry({7.0, 0.41, 0.41}, canon);
      }),
      "teeth-pi: corpus pi geometry is AMBIGUOUS (best two within 3.00px) — v2=0.41px v3=0.41px v1=7.00px — "
      "refusing to guess the bank frame");
  EXPECT_EQ(failureText([&] { chooseCorpusGeometry({5.871, 9.01, 9.024}, canon); }), ko::test::kNoFailure);
  EXPECT_EQ(
      failureText([&] {
        chooseCorpusGeometry({8.004, 12.0, 30.0}, canon);
      }),
      "teeth-pi: no corpus pi geometry matches this bank's c_canon (128.00,190.25) within 8.00px — v1=8.00px "
      "v2=12.00px v3=30.00px — the bank's pi frame is unknown and donors will NOT be placed against a frame "
      "nobody can name");
}

class CorpusFromManifest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& f :
         {test::mouthFrame(0.02f, 0.35f, 0.2f, 0.04f), test::mouthFrame(-0.03f, 0.3f, 0.22f, 0.01f),
          test::mouthFrame(0.0f, 0.32f, 0.18f, 0.06f)}) {
      frames_.insert(frames_.end(), f.begin(), f.end());
    }
    const UnifiedPi base = UnifiedPi::fromManifestJson(manifest_, kN);
    for (const CorpusGeometry& row : corpusGeometries()) {
      UnifiedPi pi = base;
      pi.pad_x = row.pad_x;
      pi.pad_y = row.pad_y;
      pi.down = row.down;
      double x = 0;
      double y = 0;
      pi.canonicalCentroid(frames_.data(), 3, &x, &y);
      centroids_.push_back({x, y});
    }
  }

  std::vector<double> distancesTo(const double canon[2]) const {
    std::vector<double> d;
    for (const auto& c : centroids_) d.push_back(std::hypot(c[0] - canon[0], c[1] - canon[1]));
    return d;
  }

  std::string listText(const std::vector<double>& d) const {
    std::vector<size_t> order(d.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return d[a] < d[b]; });
    std::string list;
    for (size_t i : order)
      list += std::string(" ") + corpusGeometries()[i].name + "=" + twoDecimals(d[i]) + "px";
    return list;
  }

  std::string manifest_ = test::manifestWith(test::piBlock(), R"({"canvas": 256})");
  std::vector<float> frames_;
  std::vector<std::array<double, 2>> centroids_;
};

TEST_F(CorpusFromManifest, AcceptsTheRowWhoseCentroidIsTheBanks) {
  const double canon[2] = {centroids_[0][0] + 0.5, centroids_[0][1] - 0.25};
  const std::vector<double> d = distancesTo(canon);
  ASSERT_GE(std::min(d[1], d[2]) - d[0], 3.0) << listText(d);
  std::string chosen;
  const UnifiedPi pi = UnifiedPi::corpusFromManifestJson(manifest_, kN, frames_.data(), 3, canon, &chosen);
  EXPECT_EQ(chosen, "v1");
  EXPECT_EQ(pi.pad_x, 0.05f);
  EXPECT_EQ(pi.pad_y, 0.08f);
  EXPECT_EQ(pi.down, 0.015f);
  EXPECT_EQ(pi.prop_gate_scale, 1.25f);
  EXPECT_NO_THROW(UnifiedPi::corpusFromManifestJson(manifest_, kN, frames_.data(), 3, canon, nullptr));
}

TEST_F(CorpusFromManifest, RefusesAnAmbiguousOrUnknownFrame) {
  const double nearV2[2] = {centroids_[1][0], centroids_[1][1]};
  const std::vector<double> d = distancesTo(nearV2);
  ASSERT_LT(d[2], 3.0) << "v2 and v3 differ only in pad_x and must sit close: " << listText(d);
  EXPECT_EQ(failureText([&] {
              UnifiedPi::corpusFromManifestJson(manifest_, kN, frames_.data(), 3, nearV2, nullptr);
            }),
            "teeth-pi: corpus pi geometry is AMBIGUOUS (best two within 3.00px) —" + listText(d) +
                " — refusing to guess the bank frame");
  const double far[2] = {20.0, 30.0};
  EXPECT_EQ(
      failureText([&] { UnifiedPi::corpusFromManifestJson(manifest_, kN, frames_.data(), 3, far, nullptr); }),
      "teeth-pi: no corpus pi geometry matches this bank's c_canon (20.00,30.00) within 8.00px —" +
          listText(distancesTo(far)) +
          " — the bank's pi frame is unknown and donors will NOT be placed against a frame nobody can name");
  const std::string noKeypoints =
      "teeth-pi: the corpus frame is identified from the bundle's own xs_target and none was supplied — "
      "refusing to fall back to the stamped geometry, which is the GRAPH's compose field";
  EXPECT_EQ(failureText([&] { UnifiedPi::corpusFromManifestJson(manifest_, kN, nullptr, 3, far, nullptr); }),
            noKeypoints);
  EXPECT_EQ(
      failureText([&] { UnifiedPi::corpusFromManifestJson(manifest_, kN, frames_.data(), 0, far, nullptr); }),
      noKeypoints);
}

}  // namespace
}  // namespace ko::tessera
