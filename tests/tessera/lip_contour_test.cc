#include "tessera/lip_contour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tessera/pixel_math.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/pi_frames.h"

namespace ko::tessera {
namespace {

using ko::authoring::LipMapSpec;
using ko::authoring::LipTemplateSpec;
using ko::test::failureText;
using test::insideBox;

constexpr int32_t kN = 128;

LipTemplateSpec diamondTemplate() {
  LipTemplateSpec lips;
  lips.canvas = kN;
  lips.featherPx = 4;
  lips.uCanon = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  lips.lipIdx = {0, 1, 2, 3};
  return lips;
}

LipMapSpec twoAnchorMap() {
  LipMapSpec map;
  map.lipIdx = {1, 2};
  map.W = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 2},
           {1, 1, 0, 0}, {0, 0, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}};
  map.b = {0, 0, 0, 0, 0, 0, -5, 5};
  map.canvas = kN;
  return map;
}

LipContour contourOf(const LipTemplateSpec& lips) {
  return LipContour::fromTemplateJson(ko::authoring::lipTemplateJson(lips), kN);
}

std::string templateFailure(const std::string& text, int32_t canvas = kN) {
  return failureText([&] { LipContour::fromTemplateJson(text, canvas); });
}

// The refusal of the mapped diamond template after `edit` breaks one field.
std::string editFailure(const std::function<void(LipTemplateSpec&)>& edit) {
  LipTemplateSpec lips = diamondTemplate();
  lips.lipMap = twoAnchorMap();
  edit(lips);
  return templateFailure(ko::authoring::lipTemplateJson(lips));
}

using Corners = std::array<int32_t, 4>;

Corners corners(const Box& b) {
  return {b.x0, b.y0, b.x1, b.y1};
}

// Even-odd crossing test of the point (px, py) against the closed polygon.
bool evenOddInside(const std::vector<float>& poly, double px, double py) {
  bool in = false;
  const size_t n = poly.size() / 2;
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const double xi = poly[2 * i], yi = poly[2 * i + 1], xj = poly[2 * j], yj = poly[2 * j + 1];
    if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) in = !in;
  }
  return in;
}

double distanceToOutline(const std::vector<float>& poly, double px, double py) {
  double best = std::numeric_limits<double>::infinity();
  const size_t n = poly.size() / 2;
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const double ax = poly[2 * j], ay = poly[2 * j + 1], bx = poly[2 * i], by = poly[2 * i + 1];
    const double lx = bx - ax, ly = by - ay;
    const double t = std::clamp(((px - ax) * lx + (py - ay) * ly) / (lx * lx + ly * ly), 0.0, 1.0);
    best = std::min(best, std::hypot(px - ax - t * lx, py - ay - t * ly));
  }
  return best;
}

std::vector<float> starPolygon(double cx, double cy, int points, double outer, double inner) {
  std::vector<float> poly;
  for (int i = 0; i < 2 * points; ++i) {
    const double r = i % 2 == 0 ? outer : inner;
    const double a = 3.14159265358979 * i / points + 0.1;
    poly.push_back(static_cast<float>(cx + r * std::cos(a)));
    poly.push_back(static_cast<float>(cy + r * std::sin(a)));
  }
  return poly;
}

// Cases in the order the reader checks: each input passes every check before the one it fails.
void expectRefusals(const std::vector<std::pair<std::string, std::string>>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].first, "lip_template.v1.json: " + cases[i].second) << "case " << i;
  }
}

TEST(LipContour, TemplateRefusalsInOrder) {
  expectRefusals({
      {templateFailure("[1 2]"), "is not parseable JSON (teeth: malformed JSON array)"},
      {templateFailure("   "), "is not parseable JSON (teeth: JSON truncated)"},
      {templateFailure("[]"), "is not a JSON object"},
      {templateFailure(R"({"format": 1})"), "carries no string `format`"},
      {editFailure([](auto& s) { s.format = "lip-template-v2"; }),
       "declares format 'lip-template-v2', not 'lip-template-v1' — this runtime cannot read it"},
      {editFailure([](auto& s) { s.edge = "inward"; }),
       "declares edge 'inward', and the contour feather is OUTWARD — refusing to serve a mask this runtime "
       "does not compute"},
      {templateFailure(R"({"format": "lip-template-v1", "edge": "outward"})"), "carries no numeric `canvas`"},
      {templateFailure(R"({"format": "lip-template-v1", "edge": 7, "canvas": "128"})"),
       "carries no numeric `canvas`"},
      {templateFailure(ko::authoring::lipTemplateJson(diamondTemplate()), 512),
       "was baked on a 128 canvas but this bundle composes on 512 — refusing to deform a polygon onto a "
       "canvas it does not name"},
      {templateFailure(R"({"format": "lip-template-v1", "canvas": 128.9})"),
       "carries no numeric `feather_px`"},
      {editFailure([](auto& s) { s.featherPx = 0; }), "declares feather_px 0.000000, which is not positive"},
      {editFailure([](auto& s) { s.featherPx = -1.25; }),
       "declares feather_px -1.250000, which is not positive"},
      {editFailure([](auto& s) { s.uCanon.clear(); }), "carries no non-empty `u_canon` array"},
      {templateFailure(
           R"({"format": "lip-template-v1", "canvas": 128, "feather_px": 3, "u_canon": [[1, 2], [3]]})"),
       "u_canon row 1 is not a 2-vector — this is not an nv x 2 template"},
      {templateFailure(
           R"({"format": "lip-template-v1", "canvas": 128, "feather_px": 3, "u_canon": [[1, 2], [3, 4, 5]]})"),
       "u_canon row 1 is not a 2-vector — this is not an nv x 2 template"},
      {editFailure([](auto& s) { s.lipIdx.clear(); }), "carries a `lip_idx` that is not a non-empty array"},
      {editFailure([](auto& s) { s.lipIdx[1] = 21; }),
       "lip_idx names keypoint row 21, and a kd row is 0..20"},
      {editFailure([](auto& s) { s.lipIdx = {-1}; }), "lip_idx names keypoint row -1, and a kd row is 0..20"},
  });
}

TEST(LipContour, LipMapRefusalsInOrder) {
  const std::string base =
      R"({"format": "lip-template-v1", "canvas": 128, "feather_px": 3, "u_canon": [[1, 2]],
                               "lip_idx": [0], "lip_map": )";
  const std::string head = base + R"({"schema": "lip-map-v1", "kind": "anchor-linear", "lip_idx": [1)";
  expectRefusals({
      {templateFailure(base + "[]}"), "lip_map is not a JSON object"},
      {templateFailure(base + "{}}"),
       "lip_map declares schema '?', not 'lip-map-v1' — this runtime cannot evaluate it"},
      {editFailure([](auto& s) { s.lipMap->schema = "lip-map-v0"; }),
       "lip_map declares schema 'lip-map-v0', not 'lip-map-v1' — this runtime cannot evaluate it"},
      {editFailure([](auto& s) { s.lipMap->kind = "affine"; }), "lip_map kind is not 'anchor-linear'"},
      {editFailure([](auto& s) { s.lipMap->lipIdx.clear(); }), "lip_map lip_idx is not 1..8 kd rows"},
      {editFailure([](auto& s) { s.lipMap->lipIdx = {0, 1, 2, 3, 4, 5, 6, 7, 8}; }),
       "lip_map lip_idx is not 1..8 kd rows"},
      {editFailure([](auto& s) { s.lipMap->lipIdx.back() = 21; }),
       "lip_map lip_idx names a row outside 0..20"},
      {templateFailure(head + ".5]}}"), "lip_map lip_idx names a row outside 0..20"},
      {templateFailure(head + R"(], "W": []}})"), "lip_map carries no W/b arrays"},
      {editFailure([](auto& s) { s.lipMap->b.pop_back(); }), "lip_map W/b have 8/7 rows, not 2*nv=8"},
      {editFailure([](auto& s) { s.lipMap->W[3].push_back(0); }), "lip_map W row 3 is not 4 wide"},
      // Four anchor rows need eight columns.
      {editFailure([](auto& s) {
         s.lipMap->lipIdx = std::vector<int32_t>{1, 2, 3, 4};
       }),
       "lip_map W row 0 is not 8 wide"},
      {templateFailure(head + R"(], "W": [[1, 2], [3, "4"]], "b": [0, 0]}})"),
       "lip_map carries a non-finite coefficient"},
      {templateFailure(head + R"(], "W": [[1, 2], [3, 4]], "b": [0, Infinity]}})"),
       "lip_map carries a non-finite coefficient"},
      {editFailure([](auto& s) { s.lipMap->canvas = 256; }),
       "lip_map was fitted on another canvas than this bundle composes on"},
  });
  EXPECT_EQ(editFailure([](auto&) {}), ko::test::kNoFailure);
}

TEST(LipContour, AcceptedTemplatesAndMapShape) {
  LipTemplateSpec lips = diamondTemplate();
  lips.edge.reset();
  const LipContour plain = contourOf(lips);
  EXPECT_EQ(plain.canvas(), kN);
  EXPECT_EQ(plain.feather(), 4.0f);
  EXPECT_EQ(plain.vertexCount(), 4);
  EXPECT_FALSE(plain.hasLipMap());
  lips.lipMap = twoAnchorMap();
  lips.lipMap->canvas.reset();
  EXPECT_TRUE(contourOf(lips).hasLipMap());

  LipContour contour = plain;
  const std::vector<double> w(8 * 4, 0.0);
  const std::vector<double> b(8, 0.0);
  const int32_t anchors[] = {1, 2};
  const std::string mismatch = "lip_template.v1.json: lip_map shape does not match the template";
  EXPECT_EQ(failureText([&] { contour.attachMap(w.data(), b.data(), 6, 4, anchors, 2); }), mismatch);
  EXPECT_EQ(failureText([&] { contour.attachMap(w.data(), b.data(), 8, 2, anchors, 2); }), mismatch);
  EXPECT_EQ(failureText([&] { contour.attachMap(w.data(), b.data(), 8, 0, anchors, 0); }), mismatch);
  EXPECT_EQ(failureText([&] { contour.attachMap(w.data(), b.data(), 8, 4, anchors, 2); }),
            ko::test::kNoFailure);
  EXPECT_TRUE(contour.hasLipMap());
}

TEST(LipContour, PolygonScalesTheOutlineToTheAnchorSpreadOrFollowsTheLipMap) {
  LipTemplateSpec mapped = diamondTemplate();
  mapped.lipMap = twoAnchorMap();
  const std::vector<float> kp = test::mouthFrame(0.1f, 0.3f, 0.2f, 0.05f);
  const std::pair<LipTemplateSpec, std::vector<double>> cases[] = {
      // s = 64: anchors at (57.6, 83.2), (83.2, 83.2), (70.4, 80), (70.4, 86.4); mean (70.4, 83.2),
      // spread (12.8, 3.2).
      {diamondTemplate(), {83.2, 83.2, 70.4, 86.4, 57.6, 83.2, 70.4, 80}},
      // Map anchors 1 and 2: (83.2, 83.2) and (70.4, 80); mean (76.8, 81.6); f = (6.4, 1.6, -6.4, -1.6).
      {mapped,
       {76.8 + 6.4, 81.6 + 1.6, 76.8 - 12.8, 81.6 - 3.2, 76.8 + 6.4 + 1.6, 81.6 - 6.4 - 1.6, 76.8 - 5,
        81.6 + 5}},
  };
  for (const auto& [lips, expected] : cases) {
    const std::vector<float> poly = contourOf(lips).polygon(kp.data());
    ASSERT_EQ(poly.size(), expected.size());
    for (size_t i = 0; i < poly.size(); ++i) EXPECT_NEAR(poly[i], expected[i], 1e-4) << i;
  }
  // Anchors on one point: the spread floors at 1e-6 instead of dividing by nothing.
  const std::vector<float> collapsed = test::mouthFrame(0.1f, 0.3f, 0.0f, 0.0f);
  for (const float v : contourOf(diamondTemplate()).polygon(collapsed.data())) EXPECT_TRUE(std::isfinite(v));
}

TEST(LipContour, BoxGrowsByTheFeatherAndClipsToTheCanvas) {
  const LipContour contour = contourOf(diamondTemplate());
  // margin 6: x0 = floor(10.5 - 6) = 4, x1 = ceil(20.25 + 6) + 1 = 28.
  EXPECT_EQ(corners(contour.box({10.5f, 30.0f, 20.25f, 40.0f, 15.0f, 50.5f})), (Corners{4, 24, 28, 58}));
  EXPECT_EQ(corners(contour.box({-20.0f, -20.0f, 200.0f, 300.0f, 0.0f, 0.0f})), (Corners{0, 0, kN, kN}));
  EXPECT_TRUE(contour.box({1e30f, 1e30f, 2e30f, 1e30f, 1e30f, 3e30f}).empty());
  EXPECT_TRUE(contour.box({-1e30f, -1e30f, -2e30f, -1e30f, -1e30f, -3e30f}).empty());
  EXPECT_TRUE(contour.box({std::nanf(""), 3.0f, 20.0f, 20.0f, 5.0f, 5.0f}).empty());
}

TEST(LipContour, ScanlineFillOfHandMadePolygons) {
  const LipContour contour = contourOf(diamondTemplate());
  const auto expectFill = [&](const std::vector<float>& poly, const Box& box, auto filled) {
    std::vector<uint8_t> mask;
    contour.fillScanline(poly, box, mask);
    const int32_t w = box.x1 - box.x0;
    ASSERT_EQ(mask.size(), static_cast<size_t>(w * (box.y1 - box.y0)));
    for (int32_t y = box.y0; y < box.y1; ++y) {
      for (int32_t x = box.x0; x < box.x1; ++x) {
        ASSERT_EQ(mask[(y - box.y0) * w + (x - box.x0)], filled(x, y) ? 255 : 0) << x << ", " << y;
      }
    }
  };
  // Half-way vertices round to even: 11.5 -> 12, 20.5 -> 20, 9.5 -> 10, 14.5 -> 14.
  expectFill({11.5f, 9.5f, 20.5f, 9.5f, 20.5f, 14.5f, 11.5f, 14.5f}, {0, 0, 32, 32},
             [](int32_t x, int32_t y) { return x >= 12 && x <= 20 && y >= 10 && y <= 14; });
  // Box-relative: the same rectangle seen from a box that cuts it.
  expectFill({11.5f, 9.5f, 20.5f, 9.5f, 20.5f, 14.5f, 11.5f, 14.5f}, {15, 12, 40, 20},
             [](int32_t x, int32_t y) { return x <= 20 && y <= 14; });
  expectFill({2, 2, 12, 2, 2, 12}, {0, 0, 16, 16},
             [](int32_t x, int32_t y) { return y >= 2 && y <= 12 && x >= 2 && x <= 14 - y; });
  // A fractional slope: rows fill up to floor(7 - 7y/9) from the truncated 16.16 steps, and the traced
  // outline adds the nearest pixel of the slanted edge (no row of this edge has a tie).
  expectFill({0, 0, 7, 0, 0, 9}, {0, 0, 12, 12},
             [](int32_t x, int32_t y) { return y <= 9 && x <= std::lround(7 - 7 * y / 9.0); });
  std::vector<uint8_t> mask{1, 2, 3};
  contour.fillScanline({1, 1, 5, 1, 1, 5}, {3, 3, 3, 9}, mask);
  EXPECT_TRUE(mask.empty());
}

TEST(LipContour, ScanlineFillAgreesWithEvenOddAwayFromEdges) {
  const LipContour contour = contourOf(diamondTemplate());
  for (const auto& poly : {starPolygon(40.3, 35.7, 5, 28.2, 11.6), starPolygon(20.1, 50.9, 7, 30.0, 22.3),
                           starPolygon(64.0, 64.0, 3, 70.0, 9.0)}) {
    const Box box = contour.box(poly);
    std::vector<uint8_t> mask;
    contour.fillScanline(poly, box, mask);
    const int32_t w = box.x1 - box.x0;
    int compared = 0;
    for (int32_t y = box.y0; y < box.y1; ++y) {
      for (int32_t x = box.x0; x < box.x1; ++x) {
        if (distanceToOutline(poly, x, y) <= 1.5) continue;
        ++compared;
        ASSERT_EQ(mask[(y - box.y0) * w + (x - box.x0)] == 255, evenOddInside(poly, x, y)) << x << ", " << y;
      }
    }
    EXPECT_GT(compared, 500);
  }
}

TEST(LipContour, FeatherFollowsTheDistanceToTheFill) {
  LipContour contour = contourOf(diamondTemplate());
  const float feather = contour.feather();
  const std::vector<float> poly = starPolygon(60.2, 58.9, 5, 25.0, 10.0);
  const Box box = contour.box(poly);
  std::vector<uint8_t> filled;
  contour.fillScanline(poly, box, filled);
  std::vector<float> canvas(kN * kN, -7.0f);
  contour.contourF32(poly, box, canvas.data());
  const int32_t w = box.x1 - box.x0;
  const auto falloff = [&](double d) {
    const double t = std::clamp(1.0 - d / feather, 0.0, 1.0);
    return t * t * (3 - 2 * t);
  };
  for (int32_t y = 0; y < kN; ++y) {
    for (int32_t x = 0; x < kN; ++x) {
      const float v = canvas[y * kN + x];
      if (!insideBox(box, x, y)) {
        ASSERT_EQ(v, -7.0f);
        continue;
      }
      double d = std::numeric_limits<double>::infinity();
      for (int32_t fy = 0; fy < box.y1 - box.y0; ++fy) {
        for (int32_t fx = 0; fx < w; ++fx) {
          if (filled[fy * w + fx] != 0) d = std::min(d, std::hypot(fx + box.x0 - x, fy + box.y0 - y));
        }
      }
      // The chamfer steps keep the distance within 5% of the Euclidean one.
      ASSERT_LE(v, falloff(d * 0.95) + 1e-5) << x << ", " << y << " at distance " << d;
      ASSERT_GE(v, falloff(d * 1.05) - 1e-5) << x << ", " << y << " at distance " << d;
      if (d == 0) {
        ASSERT_EQ(v, 1.0f);
      }
      if (d >= feather * 1.06) {
        ASSERT_EQ(v, 0.0f);
      }
    }
  }
}

class LipDelivery : public ::testing::Test {
 protected:
  LipDelivery()
      : pi_(UnifiedPi::fromManifestJson(test::manifestWith(test::piBlock()), kN)),
        contour_(contourOf(mapTemplate())) {}

  static LipTemplateSpec mapTemplate() {
    LipTemplateSpec lips = diamondTemplate();
    lips.uCanon = ko::authoring::ellipseOutline(24);
    lips.lipMap = LipMapSpec{};
    lips.lipMap->lipIdx = {0, 1, 2, 3};
    // Each vertex follows its nearest anchors: x from the corners, y from the lips.
    for (const auto& uv : lips.uCanon) {
      lips.lipMap->W.push_back({std::max(0.0, -uv[0]), 0, std::max(0.0, uv[0]), 0, 0, 0, 0, 0});
      lips.lipMap->W.push_back({0, 0, 0, 0, 0, std::max(0.0, -uv[1]), 0, std::max(0.0, uv[1])});
      lips.lipMap->b.push_back(3 * uv[0]);
      lips.lipMap->b.push_back(2 * uv[1]);
    }
    return lips;
  }

  std::vector<float> piFloat(const std::vector<float>& kp) const {
    std::vector<float> lip(kN * kN);
    std::vector<float> gate(kN * kN);
    pi_.lipMask(kp.data(), lip.data());
    pi_.propTeethGate(kp.data(), gate.data());
    for (size_t i = 0; i < lip.size(); ++i) lip[i] = std::max(lip[i], gate[i]);
    return lip;
  }

  UnifiedPi pi_;
  LipContour contour_;
};

TEST_F(LipDelivery, DeliveredIsTheContourCappedByPi) {
  for (const auto& kp :
       {test::mouthFrame(0.05f, 0.3f, 0.2f, 0.05f), test::mouthFrame(-0.95f, 0.9f, 0.3f, 0.01f)}) {
    std::vector<float> contour(kN * kN, -1.0f);
    contour_.contourF32Canvas(kp.data(), contour.data());
    const std::vector<float> pi = piFloat(kp);
    const Box support = pi_.supportBox(kp.data());
    std::vector<uint8_t> delivered(kN * kN, 0xAB);
    contour_.deliveredU8(kp.data(), pi_, delivered.data());
    int nonZero = 0;
    for (int32_t y = 0; y < kN; ++y) {
      for (int32_t x = 0; x < kN; ++x) {
        const size_t i = y * kN + x;
        ASSERT_GE(contour[i], 0.0f);
        const uint8_t expected =
            contour[i] > 0 && insideBox(support, x, y) ? maskByte(std::min(contour[i], pi[i])) : 0;
        ASSERT_EQ(delivered[i], expected) << x << ", " << y;
        nonZero += expected != 0;
      }
    }
    EXPECT_GT(nonZero, 50);
  }
}

TEST_F(LipDelivery, AContourOffTheCanvasDeliversNothing) {
  const std::vector<float> kp = test::mouthFrame(40.0f, -60.0f, 0.2f, 0.05f);
  const Box box = contour_.box(contour_.polygon(kp.data()));
  EXPECT_TRUE(box.empty());
  std::vector<uint8_t> delivered(kN * kN, 0xAB);
  contour_.deliveredU8(kp.data(), pi_, delivered.data());
  EXPECT_TRUE(std::all_of(delivered.begin(), delivered.end(), [](uint8_t v) { return v == 0; }));
  std::vector<float> contour(kN * kN, 3.0f);
  contour_.contourF32Canvas(kp.data(), contour.data());
  EXPECT_TRUE(std::all_of(contour.begin(), contour.end(), [](float v) { return v == 0.0f; }));
  // Huge and NaN keypoints are placed nowhere rather than converted into overflowing pixel indices.
  for (const float far : {3e38f, -3e38f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
    const std::vector<float> wild = test::mouthFrame(far, far, 0.2f, 0.05f);
    contour_.deliveredU8(wild.data(), pi_, delivered.data());
    EXPECT_TRUE(std::all_of(delivered.begin(), delivered.end(), [](uint8_t v) { return v == 0; }));
  }
}

TEST_F(LipDelivery, ShrinkCapsByTheContourInsideTheRegion) {
  const std::vector<float> kp = test::mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  std::vector<float> contour(kN * kN);
  contour_.contourF32Canvas(kp.data(), contour.data());
  const Box contourBox = contour_.box(contour_.polygon(kp.data()));
  const Box region{contourBox.x0 - 5, contourBox.y0 + 3, contourBox.x1 + 9, contourBox.y1 - 2};
  std::vector<uint8_t> mask(kN * kN);
  // A region the contour misses is cleared, and the call says nothing was kept.
  for (const auto& [area, kept] : {std::pair{region, true}, std::pair{Box{0, 0, 5, 5}, false}}) {
    std::fill(mask.begin(), mask.end(), 200);
    EXPECT_EQ(contour_.shrinkU8InPlace(kp.data(), area, mask.data()), kept);
    for (int32_t y = 0; y < kN; ++y) {
      for (int32_t x = 0; x < kN; ++x) {
        const size_t i = y * kN + x;
        uint8_t expected = 200;
        if (insideBox(area, x, y))
          expected = insideBox(contourBox, x, y) ? std::min<uint8_t>(200, maskByte(contour[i])) : 0;
        ASSERT_EQ(mask[i], expected) << x << ", " << y;
      }
    }
  }
  // A mask that is zero wherever the contour reaches keeps nothing.
  std::fill(mask.begin(), mask.end(), 0);
  EXPECT_FALSE(contour_.shrinkU8InPlace(kp.data(), region, mask.data()));
}

TEST_F(LipDelivery, DeliveredAndShiftIsPiShiftThenShrink) {
  const std::vector<float> kp = test::mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  const double canon[2] = {60.0, 90.0};
  std::vector<uint8_t> expected(kN * kN);
  int expectedY = 0;
  int expectedX = 0;
  ASSERT_TRUE(pi_.piU8AndShift(kp.data(), canon, expected.data(), &expectedY, &expectedX));
  contour_.shrinkU8InPlace(kp.data(), pi_.supportBox(kp.data()), expected.data());
  std::vector<uint8_t> out(kN * kN, 0xAB);
  int shiftY = 0;
  int shiftX = 0;
  EXPECT_TRUE(contour_.deliveredU8AndShift(kp.data(), pi_, canon, out.data(), &shiftY, &shiftX));
  EXPECT_EQ(out, expected);
  EXPECT_EQ(shiftY, expectedY);
  EXPECT_EQ(shiftX, expectedX);
  const std::vector<float> away = test::mouthFrame(40.0f, -60.0f, 0.2f, 0.05f);
  EXPECT_FALSE(contour_.deliveredU8AndShift(away.data(), pi_, canon, out.data(), &shiftY, &shiftX));
}

TEST_F(LipDelivery, RefusesAPiOnAnotherCanvas) {
  const UnifiedPi other = UnifiedPi::fromManifestJson(test::manifestWith(test::piBlock(), "{}"), 64);
  const std::vector<float> kp = test::mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  std::vector<uint8_t> out(kN * kN);
  EXPECT_EQ(failureText([&] { contour_.deliveredU8(kp.data(), other, out.data()); }),
            "LipContour: the contour is on a 128 canvas but pi composes on 64");
}

}  // namespace
}  // namespace ko::tessera
