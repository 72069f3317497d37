// The paste against a plain scalar evaluation of its arithmetic (all three sampling modes, rotated and
// scaled transforms, clipping at every frame edge), its tables, its environment overrides and its
// refusals.
#include "paste/paste.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "paste/paste_tables.h"
#include "tests/reference/simd_reference.h"
#include "tests/support/failure_text.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;

struct Scene {
  int32_t side = 24;
  int32_t W = 61, H = 47;
  std::vector<float> crop;  // planar RGB in 0..1
  Bytes mask;
  Bytes frame;
};

Scene randomScene(int32_t side, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  Scene s;
  s.side = side;
  for (int32_t i = 0; i < 3 * side * side; ++i) s.crop.push_back(unit(rng));
  for (int32_t i = 0; i < side * side; ++i)
    s.mask.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng() % 256));
  for (int32_t i = 0; i < 3 * s.W * s.H; ++i) s.frame.push_back(static_cast<uint8_t>(rng()));
  return s;
}

int32_t reflect(int32_t i, int32_t size) {
  while (i < 0 || i >= size) i = i < 0 ? -i : 2 * (size - 1) - i;
  return size == 1 ? 0 : i;
}

// The unsharp mask straight from its definition: mirrored padding, a horizontal pass over the
// flattened padded image, a vertical pass, then the clamp.
void referenceUnsharp(std::vector<float>& plane, int32_t side, const std::vector<float>& g, float amount) {
  const int32_t k = static_cast<int32_t>(g.size()), r = k / 2, P = side + k - 1;
  std::vector<float> pad(P * P), tmp(P * P, 0.0f);
  for (int32_t y = 0; y < P; ++y)
    for (int32_t x = 0; x < P; ++x)
      pad[y * P + x] = plane[reflect(y - r, side) * side + reflect(x - r, side)];
  for (int32_t i = 0; i < P * P - (k - 1); ++i) {
    float sum = 0.0f;
    for (int32_t t = 0; t < k; ++t) sum = sum + g[t] * pad[i + t];
    tmp[i] = sum;
  }
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      float acc = 0.0f;
      for (int32_t t = 0; t < k; ++t) acc = acc + g[t] * tmp[(y + t) * P + x];
      const float v = plane[y * side + x] * (1.0f + amount) - acc * amount;
      plane[y * side + x] = std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 255.0f);
    }
  }
}

// One pixel of the bicubic or bilinear modes: the Lanczos row's position, skip rule and blend around
// a small footprint sampled from the planes.
void referencePlanePixel(const std::vector<std::vector<float>>& planes, const Scene& s, PasteSampling mode,
                         int32_t sx, int32_t sy, uint8_t* px) {
  const int32_t ix = sx >> 10, iy = sy >> 10, fx = (sx >> 5) & 31, fy = (sy >> 5) & 31;
  if (sx < -1024 || sy < -1024 || ix >= s.side || iy >= s.side) return;
  const auto in = [&](int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < s.side && y < s.side; };
  const auto m = [&](int32_t x, int32_t y) { return in(x, y) ? float(s.mask[y * s.side + x]) : 0.0f; };
  const std::vector<float> bl = bilinearTable();
  const float a = bl[2 * fy] * (bl[2 * fx] * m(ix, iy) + bl[2 * fx + 1] * m(ix + 1, iy)) +
                  bl[2 * fy + 1] * (bl[2 * fx] * m(ix, iy + 1) + bl[2 * fx + 1] * m(ix + 1, iy + 1));
  const float alpha = std::nearbyint(a) / 255.0f;
  if (alpha <= 0.0f) return;
  const bool cubic = mode == PasteSampling::bicubic;
  const std::vector<float> taps = cubic ? cubicTable() : bl;
  const int32_t n = cubic ? 4 : 2, first = cubic ? -1 : 0;
  for (int c = 0; c < 3; ++c) {
    float value = 0.0f;
    for (int32_t j = 0; j < n; ++j) {
      float across = 0.0f;
      for (int32_t i = 0; i < n; ++i) {
        if (in(ix + first + i, iy + first + j))
          across = across + taps[fx * n + i] * planes[c][(iy + first + j) * s.side + ix + first + i];
      }
      if (iy + first + j >= 0 && iy + first + j < s.side) value = value + taps[fy * n + j] * across;
    }
    const float d = px[c] * (1.0f - alpha) + alpha * value;
    px[c] = d < 0.0f ? 0 : d > 255.0f ? 255 : static_cast<uint8_t>(d);
  }
}

Bytes referenceComposite(const Scene& s, const Unsharp& u, PasteSampling mode, const float* M) {
  Bytes frame = s.frame;
  const double a = M[0], b = M[1], c = M[2], d = M[3], e = M[4], f = M[5], det = e * a - b * d;
  if (det == 0.0) return frame;
  float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
  for (float x : {-4.0f, s.side + 3.0f}) {
    for (float y : {-4.0f, s.side + 3.0f}) {
      minX = std::min(minX, M[0] * x + M[1] * y + M[2]), maxX = std::max(maxX, M[0] * x + M[1] * y + M[2]);
      minY = std::min(minY, M[3] * x + M[4] * y + M[5]), maxY = std::max(maxY, M[3] * x + M[4] * y + M[5]);
    }
  }
  const int32_t x0 = std::max(0, int32_t(std::floor(minX))), x1 = std::min(s.W - 1, int32_t(std::ceil(maxX)));
  const int32_t y0 = std::max(0, int32_t(std::floor(minY))), y1 = std::min(s.H - 1, int32_t(std::ceil(maxY)));
  std::vector<std::vector<float>> planes(3);
  std::vector<float> rgba(4 * s.side * s.side, 0.0f);
  for (int32_t ch = 0; ch < 3; ++ch) {
    for (int32_t i = 0; i < s.side * s.side; ++i)
      planes[ch].push_back(255.0f * s.crop[ch * s.side * s.side + i]);
    referenceUnsharp(planes[ch], s.side, gaussianTaps(u.ksize, u.sigma), u.amount);
    for (int32_t i = 0; i < s.side * s.side; ++i) rgba[4 * i + ch] = planes[ch][i];
  }
  const std::vector<float> lanczos = lanczosTable(), bilinear = bilinearTable();
  for (int32_t Y = y0; Y <= y1; ++Y) {
    for (int32_t X = x0; X <= x1; ++X) {
      const int32_t sx = int32_t(std::rint(1024.0 * X * (e / det))) +
                         int32_t(std::rint(1024.0 * (Y * (-b / det) + (b * f - c * e) / det))) + 16;
      const int32_t sy = int32_t(std::rint(1024.0 * X * (-d / det))) +
                         int32_t(std::rint(1024.0 * (Y * (a / det) + (c * d - a * f) / det))) + 16;
      uint8_t* px = &frame[3 * (Y * s.W + X)];
      if (mode == PasteSampling::lanczos) {
        const int32_t zero = 0;
        reference::pasteLanczos8Row(rgba.data(), s.side, s.mask.data(), lanczos.data(), bilinear.data(), &sx,
                                    &sy, zero, zero, 0, 0, px);
      } else {
        referencePlanePixel(planes, s, mode, sx, sy, px);
      }
    }
  }
  return frame;
}

struct Transform {
  const char* name;
  float M[6];
};

// Rotated and scaled placements, and crops hanging over each frame edge.
const Transform kTransforms[] = {
    {"identity", {1, 0, 0, 0, 1, 0}},
    {"rotated and scaled", {1.3f * 0.94f, -1.3f * 0.34f, 20.2f, 1.3f * 0.34f, 1.3f * 0.94f, 3.7f}},
    {"shrunk and sheared", {0.61f, 0.12f, 9.5f, -0.07f, 0.58f, 11.25f}},
    {"over the left edge", {1.1f, 0, -9.3f, 0, 1.1f, 10}},
    {"over the right edge", {1.1f, 0, 48.6f, 0, 1.1f, 10}},
    {"over the top edge", {0.9f, 0.1f, 20, -0.1f, 0.9f, -12.4f}},
    {"over the bottom edge", {0.9f, 0.1f, 20, -0.1f, 0.9f, 35.5f}},
    {"flipped", {-1, 0, 40, 0, -1, 30}},
};

class PasteModes : public testing::TestWithParam<PasteSampling> {};

TEST_P(PasteModes, EveryPixelMatchesTheScalarDefinition) {
  const int mode = static_cast<int>(GetParam());
  const test::ScopedEnv fast("KO_PASTE_FAST", std::to_string(mode).c_str());
  for (int32_t side : {24, 5}) {
    const Unsharp unsharp{1.3f, 2.0f, 9};
    for (const Transform& t : kTransforms) {
      Scene s = randomScene(side, static_cast<uint32_t>(side * 31 + mode));
      const Bytes expected = referenceComposite(s, unsharp, GetParam(), t.M);
      // Guard bytes past the frame catch writes beyond the last row.
      s.frame.resize(s.frame.size() + 64, 0xA5);
      Paste paste(s.mask, side, unsharp);
      ASSERT_EQ(paste.sampling(), GetParam());
      paste.composite(s.crop.data(), 255.0f, t.M, s.frame.data(), s.W, s.H);
      EXPECT_EQ(Bytes(s.frame.end() - 64, s.frame.end()), Bytes(64, 0xA5)) << t.name;
      s.frame.resize(s.frame.size() - 64);
      EXPECT_EQ(s.frame, expected) << t.name << ", side " << side;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sampling, PasteModes,
                         testing::Values(PasteSampling::lanczos, PasteSampling::bicubic,
                                         PasteSampling::bilinear));

TEST(PasteComposite, IdentityWithFullMaskAndNoSharpeningCopiesTheCrop) {
  Scene s = randomScene(16, 3);
  s.mask.assign(s.mask.size(), 255);
  Paste paste(s.mask, s.side, Unsharp{0.0f, 2.0f, 5});
  const float M[6] = {1, 0, 0, 0, 1, 0};
  const Bytes before = s.frame;
  paste.composite(s.crop.data(), 255.0f, M, s.frame.data(), s.W, s.H);
  for (int32_t y = 0; y < s.H; ++y) {
    for (int32_t x = 0; x < s.W; ++x) {
      for (int32_t c = 0; c < 3; ++c) {
        const size_t at = 3 * (y * s.W + x) + c;
        const uint8_t expected = x < s.side && y < s.side
                                     ? static_cast<uint8_t>(255.0f * s.crop[(c * s.side + y) * s.side + x])
                                     : before[at];
        ASSERT_EQ(s.frame[at], expected) << x << "," << y << "," << c;
      }
    }
  }
}

TEST(PasteComposite, LeavesTheFrameAloneWhenThereIsNothingToPaste) {
  Scene s = randomScene(16, 4);
  const Bytes before = s.frame;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Transform untouched[] = {{"singular", {1, 2, 5, 2, 4, 5}},
                                 {"outside", {1, 0, 500, 0, 1, 500}},
                                 {"left of the frame", {1, 0, -40, 0, 1, 0}},
                                 {"not finite", {1, 0, nan, 0, 1, 0}}};
  for (const Transform& t : untouched) {
    Paste(s.mask, s.side, Unsharp{}).composite(s.crop.data(), 255.0f, t.M, s.frame.data(), s.W, s.H);
    EXPECT_EQ(s.frame, before) << t.name;
  }
  s.mask.assign(s.mask.size(), 0);
  const float identity[6] = {1, 0, 3, 0, 1, 2};
  Paste(s.mask, s.side, Unsharp{}).composite(s.crop.data(), 255.0f, identity, s.frame.data(), s.W, s.H);
  EXPECT_EQ(s.frame, before) << "all-zero mask";
}

TEST(PasteConstruction, RefusesWhatItCannotSharpenOrSample) {
  const Bytes mask(16, 255);
  EXPECT_EQ(test::failureText([&] { Paste(Bytes(15), 4, Unsharp{}); }), "paste: mask size");
  EXPECT_EQ(test::failureText([&] { Paste(mask, 4, Unsharp{1.0f, 2.0f, 4}); }), "paste: ksize must be odd");
  EXPECT_EQ(test::failureText([&] { Paste(Bytes(15), 4, Unsharp{1.0f, 2.0f, 4}); }), "paste: mask size");
  EXPECT_EQ(test::failureText([&] {
              Paste(mask, 4, Unsharp{1.0f, 0.0f, 3});
            }),
            "paste: sigma must be positive");

  const int32_t side = 1025;
  Paste wide(Bytes(side * side, 255), side, Unsharp{});
  std::vector<float> crop(3 * side * side, 0.5f);
  Bytes frame(3 * 64 * 64, 7);
  const float M[6] = {1, 0, 0, 0, 1, 0};
  EXPECT_EQ(test::failureText([&] { wide.composite(crop.data(), 255.0f, M, frame.data(), 64, 64); }),
            "paste: side > 1024");
  EXPECT_EQ(frame, Bytes(3 * 64 * 64, 7));
}

TEST(PasteEnvironment, KernelSizeMayOnlyShrinkAndUnknownModesMeanLanczos) {
  const Bytes mask(16, 255);
  const Unsharp five{1.0f, 2.0f, 5};
  const std::pair<const char*, int32_t> sizes[] = {{"3", 3}, {"7", 5}, {"4", 5}, {"1", 5}, {"3x", 5}};
  for (const auto& [value, expected] : sizes) {
    const test::ScopedEnv env("KO_PASTE_KSIZE", value);
    const Paste paste(mask, 4, five);
    EXPECT_EQ(paste.ksize(), expected) << value;
    EXPECT_EQ(paste.gauss().size(), static_cast<size_t>(expected)) << value;
  }
  const std::pair<const char*, PasteSampling> modes[] = {{"1", PasteSampling::bicubic},
                                                         {"2", PasteSampling::bilinear},
                                                         {"5", PasteSampling::lanczos},
                                                         {"-1", PasteSampling::lanczos},
                                                         {"0", PasteSampling::lanczos}};
  for (const auto& [value, expected] : modes) {
    const test::ScopedEnv env("KO_PASTE_FAST", value);
    EXPECT_EQ(Paste(mask, 4, five).sampling(), expected) << value;
  }
}

TEST(PasteTables, FollowTheirFormulas) {
  const std::vector<float> lanczos = lanczosTable(), cubic = cubicTable(), gauss = gaussianTaps(13, 2.0f);
  EXPECT_EQ(std::vector<float>(lanczos.begin(), lanczos.begin() + 8),
            (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 0}));
  for (int p = 0; p < 32; ++p) {
    double sum = 0.0, cubicSum = 0.0, raw[8], rawSum = 0.0;
    for (int k = 0; k < 8; ++k) {
      const double x = 3.0 + p / 32.0 - k, pi = std::numbers::pi;
      raw[k] = p == 0 ? (k == 3) : std::sin(pi * x) * std::sin(pi * x / 4) / (pi * pi * x * x / 4);
      rawSum += raw[k];
      sum += lanczos[p * 8 + k];
    }
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(lanczos[p * 8 + k], raw[k] / rawSum, 1e-7) << p << "," << k;
    for (int k = 0; k < 4; ++k) cubicSum += cubic[p * 4 + k];
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_NEAR(cubicSum, 1.0, 1e-6);
  }
  // Keys cubic at f = 0.5: (-0.09375, 0.59375, 0.59375, -0.09375).
  EXPECT_FLOAT_EQ(cubic[16 * 4 + 0], -0.09375f);
  EXPECT_FLOAT_EQ(cubic[16 * 4 + 1], 0.59375f);
  EXPECT_FLOAT_EQ(cubic[16 * 4 + 2], 0.59375f);
  for (int i = 0; i < 13; ++i) {
    EXPECT_FLOAT_EQ(gauss[i], gauss[12 - i]);
    EXPECT_NEAR(gauss[i] / gauss[6], std::exp(-(i - 6.0) * (i - 6.0) / 8.0), 1e-6);
  }
}

}  // namespace
}  // namespace ko
