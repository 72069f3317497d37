// Angle decoding and the rotation it makes, against a softmax and elementary rotations composed here.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "audio/motion_layout.h"
#include "audio/motion_pose.h"

namespace ko::test {
namespace {

using namespace ko::motion;

TEST(MotionPose, Bin66DecodesTheExpectedBin) {
  std::vector<float> logits(kBins, 0.7f);
  EXPECT_NEAR(bin66(logits.data()), 0.0f, 1e-4);
  for (int bin : {0, 17, 65}) {
    std::vector<float> oneHot(kBins, -1000.0f);
    oneHot[bin] = 50.0f;
    EXPECT_FLOAT_EQ(bin66(oneHot.data()), 3.0f * bin - 97.5f);
  }
  std::vector<float> pair(kBins, -1000.0f);
  pair[10] = pair[11] = 3.0f;  // halfway between bins 10 and 11, whatever their common offset
  EXPECT_NEAR(bin66(pair.data()), 3.0f * 10.5f - 97.5f, 1e-4);
}

using Matrix = std::array<double, 9>;

Matrix product(const Matrix& a, const Matrix& b) {
  Matrix c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
  return c;
}

TEST(MotionPose, RotationIsTheTransposedRollYawPitchComposition) {
  const Rotation identity = poseToR(0, 0, 0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(identity[i], i % 4 == 0 ? 1.0f : 0.0f);
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> degrees(-90, 90);
  for (int trial = 0; trial < 20; ++trial) {
    const double p = degrees(rng), y = degrees(rng), r = degrees(rng);
    const double a = p * M_PI / 180, b = y * M_PI / 180, c = r * M_PI / 180;
    const Matrix rx{1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)};
    const Matrix ry{std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
    const Matrix rz{std::cos(c), -std::sin(c), 0, std::sin(c), std::cos(c), 0, 0, 0, 1};
    const Matrix m = product(rz, product(ry, rx));
    const Rotation ours = poseToR(static_cast<float>(p), static_cast<float>(y), static_cast<float>(r));
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(ours[3 * i + j], m[3 * j + i], 1e-5);
        double dot = 0;
        for (int k = 0; k < 3; ++k) dot += double{ours[3 * i + k]} * ours[3 * j + k];
        EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-5);
      }
    }
  }
}

}  // namespace
}  // namespace ko::test
