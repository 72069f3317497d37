#include "tessera/unified_pi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tessera/pixel_math.h"
#include "tests/support/failure_text.h"
#include "tests/support/pi_frames.h"

namespace ko::tessera {
namespace {

using ko::test::failureText;
using test::insideBox;
using test::manifestWith;
using test::mouthFrame;
using test::piBlock;

constexpr int32_t kN = 128;

// The formulas evaluated per pixel in double precision, independently of the library's float path.
struct Reference {
  int32_t n;
  std::vector<int32_t> rows{0, 1, 2, 3};

  double coord(int32_t i) const { return n == 1 ? -1.0 : 2.0 * i / (n - 1) - 1.0; }

  struct Spread {
    double cx = 0, cy = 0, ex = 0, ey = 0;
  };
  Spread spread(const std::vector<float>& kp) const {
    Spread s;
    for (int32_t r : rows) {
      s.cx += kp[3 * r] / static_cast<double>(rows.size());
      s.cy += kp[3 * r + 1] / static_cast<double>(rows.size());
    }
    for (int32_t r : rows) {
      s.ex = std::max(s.ex, std::abs(kp[3 * r] - s.cx));
      s.ey = std::max(s.ey, std::abs(kp[3 * r + 1] - s.cy));
    }
    return s;
  }
  static double feathered(double x, double y, double cx, double cy, double rx, double ry) {
    const double d = std::hypot((x - cx) / rx, (y - cy) / ry);
    double t = (1 - d) * std::sqrt(rx * ry) * 256 / 10;
    if (t < 0) return 0;
    t = std::min(1.0, t);
    return (3 - 2 * t) * t * t;
  }
  std::vector<double> ellipse(const std::vector<float>& kp, double padX, double padY, double minRx,
                              double minRy, double scale, double drop) const {
    const Spread s = spread(kp);
    const double rx = std::max(minRx, s.ex + padX) * scale;
    const double ry = std::max(minRy, s.ey + padY) * scale;
    std::vector<double> out(static_cast<size_t>(n) * n);
    for (int32_t r = 0; r < n; ++r) {
      for (int32_t c = 0; c < n; ++c)
        out[r * n + c] = feathered(coord(c), coord(r), s.cx, s.cy + drop, rx, ry);
    }
    return out;
  }
  std::vector<double> lip(const std::vector<float>& kp, double padX, double padY, double drop,
                          bool recover) const {
    double scale = 1;
    if (recover) {
      const Spread s = spread(kp);
      const double rx1 = std::max(0.1, s.ex + padX);
      const double ry1 = std::max(0.1, s.ey + padY);
      double m = 0;
      for (int32_t r : rows)
        m = std::max(m, std::hypot((kp[3 * r] - s.cx) / rx1, (kp[3 * r + 1] - s.cy - drop) / ry1));
      scale = std::max(1.0, 5 / (std::sqrt(rx1 * ry1) * 256) + m);
    }
    return ellipse(kp, padX, padY, 0.1, 0.1, scale, drop);
  }
  std::vector<double> gate(const std::vector<float>& kp, double gateScale) const {
    const double t = std::clamp((spread(kp).ey - 0.02) / 0.01, 0.0, 1.0);
    std::vector<double> out = ellipse(kp, 0, 0, 0.004, 0.004, gateScale, 0);
    for (double& v : out) v *= (3 - 2 * t) * t * t;
    return out;
  }
};

UnifiedPi readPi(const std::string& cornerRecovery = "false") {
  return UnifiedPi::fromManifestJson(manifestWith(piBlock(cornerRecovery)), kN);
}

std::string readFailure(const std::string& manifest) {
  return failureText([&] { UnifiedPi::fromManifestJson(manifest, kN); });
}

double largestGap(const std::vector<float>& mask, const std::vector<double>& reference) {
  double gap = 0;
  for (size_t i = 0; i < mask.size(); ++i) gap = std::max(gap, std::abs(mask[i] - reference[i]));
  return gap;
}

template <class T>
void expectSupportedBy(const std::vector<T>& mask, const Box& b, const char* what) {
  for (int32_t y = 0; y < kN; ++y) {
    for (int32_t x = 0; x < kN; ++x) {
      if (mask[y * kN + x] != 0) {
        ASSERT_TRUE(insideBox(b, x, y)) << what << " is non-zero at (" << x << ", " << y << ")";
      }
    }
  }
}

TEST(UnifiedPi, ReadsTheUnifiedBlock) {
  const UnifiedPi pi = readPi();
  EXPECT_EQ(pi.canvas, kN);
  EXPECT_EQ(pi.mode, "prop");
  EXPECT_FALSE(pi.corner_recovery);
  EXPECT_EQ(pi.prop_gate_scale, 1.25f);
  EXPECT_EQ(pi.lip_idx, (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(pi.pad_x, 0.1f);
  EXPECT_EQ(pi.pad_y, 0.08f);
  EXPECT_EQ(pi.down, 0.074f);
  ASSERT_EQ(pi.xs.size(), static_cast<size_t>(kN));
  EXPECT_EQ(pi.xs.front(), -1.0f);
  EXPECT_EQ(pi.xs.back(), 1.0f);
  EXPECT_FLOAT_EQ(pi.xs[1], 2.0f / 127 - 1);
  EXPECT_EQ(pi.ys, pi.xs);
  EXPECT_TRUE(readPi("true").corner_recovery);
  EXPECT_TRUE(readPi(R"("lip_landmark_half")").corner_recovery);
  // No corner_recovery and a crop without canvas are both fine.
  const std::string plain =
      R"({"mode": "prop", "prop_gate_scale": 1, "lip_idx": [5.9], "lip_geom_params": [1, "x", 3]})";
  const UnifiedPi bare = UnifiedPi::fromManifestJson(manifestWith(plain, "{}"), 1);
  EXPECT_FALSE(bare.corner_recovery);
  EXPECT_EQ(bare.lip_idx, std::vector<int32_t>{5});
  EXPECT_EQ(bare.pad_y, 0.0f);
  EXPECT_EQ(bare.xs, std::vector<float>{-1.0f});
}

TEST(UnifiedPi, ManifestRefusals) {
  // A prop pi block with a gate scale, then `rest`.
  const auto prop = [](const std::string& rest) {
    return manifestWith(R"({"mode": "prop", "prop_gate_scale": 1)" + rest + "}");
  };
  const std::string unknownRecovery =
      "teeth-pi: unknown unified.pi.corner_recovery — a compose-mask geometry a consumer cannot name must "
      "never be guessed";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"unified": 1})",
       "teeth-pi: manifest has no `unified` block — this bundle predates the unified compose and cannot "
       "state the pi geometry it was baked with; refusing to guess one"},
      {"[1 2]", "teeth: manifest is not readable JSON: teeth: malformed JSON array"},
      {R"({"unified": {}})", "teeth: member JSON lacks key 'pi'"},
      {manifestWith("{}"), "teeth: member JSON lacks key 'mode'"},
      {manifestWith(R"({"mode": 3})"), "teeth-pi: unified.pi.mode is not a string"},
      {manifestWith(R"({"mode": "ellipse"})"),
       "teeth-pi: unified.pi.mode 'ellipse' is a compose-mask geometry this port cannot name — fail loud, "
       "never adapt (the stamped-geometry rule)"},
      {manifestWith(R"({"mode": "prop", "corner_recovery": "lip_landmark"})"), unknownRecovery},
      {manifestWith(R"({"mode": "prop", "corner_recovery": 1})"), unknownRecovery},
      {manifestWith(R"({"mode": "prop"})"), "teeth: member JSON lacks key 'prop_gate_scale'"},
      {prop(""), "teeth: member JSON lacks key 'lip_idx'"},
      {prop(R"(, "lip_idx": [])"), "teeth-pi: unified.pi.lip_idx is not a non-empty array"},
      {prop(R"(, "lip_idx": {})"), "teeth-pi: unified.pi.lip_idx is not a non-empty array"},
      {prop(R"(, "lip_idx": [0, 21])"), "teeth-pi: unified.pi.lip_idx names keypoint row 21, outside 0..20"},
      {prop(R"(, "lip_idx": [-1])"), "teeth-pi: unified.pi.lip_idx names keypoint row -1, outside 0..20"},
      {prop(R"(, "lip_idx": [0])"), "teeth: member JSON lacks key 'lip_geom_params'"},
      {prop(R"(, "lip_idx": [0], "lip_geom_params": [1, 2])"),
       "teeth-pi: unified.pi.lip_geom_params must be [pad_x, pad_y, down]"},
      {manifestWith(piBlock(), R"({"canvas": 256.7})"),
       "teeth-pi: engine renders at canvas 128 but unified.crop.canvas is 256"},
  };
  for (const auto& [manifest, refusal] : cases) EXPECT_EQ(readFailure(manifest), refusal) << manifest;
}

TEST(UnifiedPi, RowsOutsideTheKeypointsAreRefusedWhenUsed) {
  UnifiedPi pi = readPi();
  pi.lip_idx.push_back(21);
  const std::vector<float> kp = mouthFrame(0, 0.3f, 0.2f, 0.05f);
  EXPECT_EQ(failureText([&] { pi.lipParams(kp.data()); }),
            "teeth-pi: unified.pi.lip_idx names keypoint row 21, outside 0..20");
}

TEST(UnifiedPi, MasksFollowTheFormulasAndTheirBoxesHoldEveryNonZeroPixel) {
  const Reference ref{kN};
  std::vector<float> mask(kN * kN);
  std::vector<uint8_t> full(kN * kN);
  std::vector<uint8_t> boxed(kN * kN);
  for (const bool recover : {false, true}) {
    const UnifiedPi pi = readPi(recover ? "true" : "false");
    for (const auto& kp : {mouthFrame(0.05f, 0.3f, 0.2f, 0.05f), mouthFrame(-0.2f, 0.1f, 0.12f, 0.024f),
                           mouthFrame(0.3f, -0.2f, 0.02f, 0.01f), mouthFrame(-0.8f, 0.9f, 0.3f, 0.2f),
                           mouthFrame(0.4f, -0.5f, 0.01f, 0.06f)}) {
      pi.lipMask(kp.data(), mask.data());
      EXPECT_LT(largestGap(mask, ref.lip(kp, 0.1, 0.08, 0.074, recover)), 1e-4);
      expectSupportedBy(mask, pi.ellBox(pi.lipParams(kp.data())), "lip mask");
      pi.propTeethGate(kp.data(), mask.data());
      EXPECT_LT(largestGap(mask, ref.gate(kp, 1.25)), 1e-4);
      expectSupportedBy(mask, pi.ellBox(pi.gateParams(kp.data(), nullptr)), "teeth gate");
      pi.ellMask(kp.data(), 0.05f, 0.0f, 0.2f, 0.03f, 0.5f, -0.1f, mask.data());
      EXPECT_LT(largestGap(mask, ref.ellipse(kp, 0.05, 0, 0.2, 0.03, 0.5, -0.1)), 1e-4);
      pi.piU8(kp.data(), full.data());
      expectSupportedBy(full, pi.supportBox(kp.data()), "pi");
      std::fill(boxed.begin(), boxed.end(), 7);
      pi.piU8Boxed(kp.data(), boxed.data());
      EXPECT_EQ(boxed, full);
    }
  }
}

TEST(UnifiedPi, EllMaskAppliesPadsOnlyWhenNonZeroAndMinimaPerAxis) {
  const UnifiedPi pi = readPi();
  const std::vector<float> kp = mouthFrame(0, 0, 0.3f, 0.01f);
  std::vector<float> mask(kN * kN);
  pi.ellMask(kp.data(), 0.05f, 0.0f, 0.1f, 0.2f, 1.0f, 0.0f, mask.data());
  // rx = 0.3 + 0.05, ry = max(0.2, 0.01): the mask ends 0.35 out along x and 0.2 along y.
  const Reference ref{kN};
  std::vector<double> expected(kN * kN);
  for (int32_t r = 0; r < kN; ++r) {
    for (int32_t c = 0; c < kN; ++c) {
      expected[r * kN + c] = Reference::feathered(ref.coord(c), ref.coord(r), 0, 0, 0.35, 0.2);
    }
  }
  EXPECT_LT(largestGap(mask, expected), 1e-4);
}

TEST(UnifiedPi, TeethGateOpensBetweenTwoAndThreeHundredths) {
  const UnifiedPi pi = readPi();
  std::vector<float> mask(kN * kN);
  float gate = -1;
  const std::vector<float> shut = mouthFrame(0, 0, 0.2f, 0.019f);
  pi.gateParams(shut.data(), &gate);
  EXPECT_EQ(gate, 0.0f);
  pi.propTeethGate(shut.data(), mask.data());
  EXPECT_TRUE(std::all_of(mask.begin(), mask.end(), [](float v) { return v == 0.0f; }));

  std::vector<float> ungated(kN * kN);
  for (const float halfH : {0.03f, 0.05f}) {
    const std::vector<float> open = mouthFrame(0, 0, 0.2f, halfH);
    pi.gateParams(open.data(), &gate);
    EXPECT_EQ(gate, 1.0f);
    pi.propTeethGate(open.data(), mask.data());
    pi.ellMask(open.data(), 0, 0, 0.004f, 0.004f, 1.25f, 0, ungated.data());
    EXPECT_EQ(mask, ungated);
  }
  const std::vector<float> half = mouthFrame(0, 0, 0.2f, 0.025f);
  pi.gateParams(half.data(), &gate);
  EXPECT_NEAR(gate, 0.5f, 1e-3f);
}

TEST(UnifiedPi, ParametersMatchTheMasks) {
  const UnifiedPi pi = readPi();
  const std::vector<float> kp = mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  const EllParams lip = pi.lipParams(kp.data());
  EXPECT_NEAR(lip.cx, 0.05, 1e-6);
  EXPECT_NEAR(lip.cy, 0.374, 1e-6);
  EXPECT_NEAR(lip.rx, 0.3, 1e-6);
  EXPECT_NEAR(lip.ry, 0.13, 1e-6);
  EXPECT_NEAR(lip.R, std::sqrt(0.3 * 0.13) * 256, 1e-4);
  float gate = 0;
  const EllParams teeth = pi.gateParams(kp.data(), &gate);
  EXPECT_NEAR(teeth.cy, 0.3, 1e-6);
  EXPECT_NEAR(teeth.rx, 0.25, 1e-6);
  EXPECT_NEAR(teeth.ry, 0.0625, 1e-6);
  EXPECT_EQ(gate, 1.0f);
  // h = 63.5: x from floor(0.75 * 63.5) - 1 = 46 to ceil(1.35 * 63.5) + 2 = 88.
  const Box b = pi.ellBox(lip);
  EXPECT_EQ(b.x0, 46);
  EXPECT_EQ(b.x1, 88);
  const Box whole = pi.ellBox({0, 0, 5, 5, 1});
  EXPECT_EQ(whole.x0, 0);
  EXPECT_EQ(whole.x1, kN);
  const Box off = pi.ellBox({9, 9, 0.1f, 0.1f, 1});
  EXPECT_TRUE(off.empty());
  const Box nan = pi.ellBox({std::nanf(""), 0, 0.1f, 0.1f, 1});
  EXPECT_TRUE(nan.empty());
}

TEST(UnifiedPi, PiIsTheRoundedMaximumOfLipAndGate) {
  const UnifiedPi pi = readPi("true");
  const Reference ref{kN};
  const std::vector<float> kp = mouthFrame(0.05f, 0.3f, 0.2f, 0.027f);
  const std::vector<double> lip = ref.lip(kp, 0.1, 0.08, 0.074, true);
  const std::vector<double> gate = ref.gate(kp, 1.25);
  std::vector<uint8_t> bytes(kN * kN);
  pi.piU8(kp.data(), bytes.data());
  int exact = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const double expected = std::nearbyint(std::clamp(std::max(lip[i], gate[i]), 0.0, 1.0) * 255);
    ASSERT_LE(std::abs(bytes[i] - expected), 1) << "pixel " << i;
    exact += bytes[i] == expected;
  }
  EXPECT_GT(exact, static_cast<int>(bytes.size()) - 40);
}

TEST(UnifiedPi, BytesRoundHalfToEven) {
  int halves = 0;
  for (int step = 0; step < 255; ++step) {
    const float half = (static_cast<float>(step) + 0.5f) / 255.0f;
    if (half * 255.0f != static_cast<float>(step) + 0.5f) continue;
    ++halves;
    EXPECT_EQ(maskByte(half), step % 2 == 0 ? step : step + 1) << step;
    const float above = std::nextafter(half, 1.0f);
    if (above * 255.0f > static_cast<float>(step) + 0.5f) {
      EXPECT_EQ(maskByte(above), step + 1) << step;
    }
  }
  EXPECT_GT(halves, 200);
  EXPECT_EQ(maskByte(0.5f / 255.0f), 0);
  EXPECT_EQ(maskByte(1.5f / 255.0f), 2);
  EXPECT_EQ(maskByte(-3.0f), 0);
  EXPECT_EQ(maskByte(7.0f), 255);
  EXPECT_EQ(maskByte(std::nanf("")), 0);
}

TEST(UnifiedPi, ShrunkByCapsPiInsideTheBox) {
  const UnifiedPi pi = readPi();
  const std::vector<float> kp = mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  std::vector<float> limit(kN * kN);
  for (int32_t y = 0; y < kN; ++y) {
    for (int32_t x = 0; x < kN; ++x) limit[y * kN + x] = (x % 7 == 0) ? 0.0f : static_cast<float>(y) / kN;
  }
  std::vector<uint8_t> full(kN * kN);
  pi.piU8(kp.data(), full.data());
  std::vector<float> lipF(kN * kN);
  std::vector<float> gateF(kN * kN);
  pi.lipMask(kp.data(), lipF.data());
  pi.propTeethGate(kp.data(), gateF.data());
  const Box box{50, 70, 100, 110};
  std::vector<uint8_t> out(kN * kN, 9);
  pi.piU8ShrunkBy(kp.data(), limit.data(), box, out.data());
  for (int32_t y = 0; y < kN; ++y) {
    for (int32_t x = 0; x < kN; ++x) {
      const size_t i = y * kN + x;
      const float p = std::max(lipF[i], gateF[i]);
      const uint8_t expected = insideBox(box, x, y) && limit[i] > 0 ? maskByte(std::min(limit[i], p)) : 0;
      ASSERT_EQ(out[i], expected) << x << ", " << y;
    }
  }
}

TEST(UnifiedPi, CentroidAndShift) {
  const UnifiedPi pi = readPi();
  std::vector<uint8_t> mask(kN * kN, 0);
  double x = 0;
  double y = 0;
  EXPECT_FALSE(pi.piU8Centroid(mask.data(), &x, &y));
  mask[10 * kN + 20] = 128;
  mask[12 * kN + 30] = 255;
  mask[40 * kN + 40] = 127;
  mask[100 * kN + 100] = 200;
  ASSERT_TRUE(pi.piU8Centroid(mask.data(), &x, &y));
  EXPECT_DOUBLE_EQ(x, 50.0);
  EXPECT_NEAR(y, 122.0 / 3, 1e-12);
  ASSERT_TRUE(pi.piU8Centroid(mask.data(), Box{0, 0, 64, 64}, &x, &y));
  EXPECT_DOUBLE_EQ(x, 25.0);
  EXPECT_DOUBLE_EQ(y, 11.0);
  EXPECT_FALSE(pi.piU8Centroid(mask.data(), Box{41, 41, 90, 90}, &x, &y));

  const std::vector<float> kp = mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  std::vector<uint8_t> full(kN * kN);
  pi.piU8(kp.data(), full.data());
  double cx = 0;
  double cy = 0;
  ASSERT_TRUE(pi.piU8Centroid(full.data(), &cx, &cy));
  const double canon[2] = {cx - 3.5, cy + 2.4};
  int shiftY = 0;
  int shiftX = 0;
  std::vector<uint8_t> boxed(kN * kN);
  ASSERT_TRUE(pi.piU8AndShift(kp.data(), canon, boxed.data(), &shiftY, &shiftX));
  EXPECT_EQ(boxed, full);
  EXPECT_EQ(shiftX, 4);  // 3.5 rounds to the even 4
  EXPECT_EQ(shiftY, -2);
  const std::vector<float> offCanvas = mouthFrame(9, 9, 0.2f, 0.05f);
  EXPECT_FALSE(pi.piU8AndShift(offCanvas.data(), canon, boxed.data(), &shiftY, &shiftX));
}

TEST(UnifiedPi, CanonicalCentroidAveragesFramesThatHaveOne) {
  const UnifiedPi pi = readPi();
  std::vector<float> frames = mouthFrame(0.05f, 0.3f, 0.2f, 0.05f);
  const std::vector<float> second = mouthFrame(-0.3f, 0.1f, 0.15f, 0.03f);
  const std::vector<float> empty = mouthFrame(9, 9, 0.2f, 0.05f);
  frames.insert(frames.end(), empty.begin(), empty.end());
  frames.insert(frames.end(), second.begin(), second.end());
  std::vector<uint8_t> mask(kN * kN);
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  pi.piU8(frames.data(), mask.data());
  ASSERT_TRUE(pi.piU8Centroid(mask.data(), &x1, &y1));
  pi.piU8(second.data(), mask.data());
  ASSERT_TRUE(pi.piU8Centroid(mask.data(), &x2, &y2));
  double x = 0;
  double y = 0;
  pi.canonicalCentroid(frames.data(), 3, &x, &y);
  EXPECT_DOUBLE_EQ(x, (x1 + x2) / 2);
  EXPECT_DOUBLE_EQ(y, (y1 + y2) / 2);
  EXPECT_EQ(failureText([&] { pi.canonicalCentroid(empty.data(), 1, &x, &y); }),
            "teeth-pi: pi is empty on every source frame — cannot derive the canonical centroid this "
            "bundle's frame "
            "is identified by");
}

}  // namespace
}  // namespace ko::tessera
