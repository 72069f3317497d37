// The demo identity's motion directory: its idle rows are the keypoints its idle loop drives the
// source frames from, and its tuned a2x pair opens the mouth while speech sounds, never wider than the
// idle loop does, and brings the idle face back in silence.
//
// The stream runs on a speech encoder of the test's own, so it loads motion/w2v_8s.onnx whatever
// encoder other tests of this process have made the shared one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "audio/window_norm.h"
#include "bundle/file_io.h"
#include "bundle/manifest.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_identity.h"
#include "tools/demo/demo_keypoints.h"
#include "tools/demo/demo_motion.h"

namespace ko {
namespace {

constexpr double kBuzzHz = 150.0;
constexpr int kHarmonics = 20;

std::vector<float> floatsOf(const std::string& bytes) {
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

// A second of a sawtooth-like 150 Hz buzz under a syllable-rate envelope that fades in and out, then
// a second of digital silence.
std::vector<float> buzzThenSilence() {
  std::vector<float> audio(2 * kSampleRate, 0.0f);
  for (int i = 0; i < kSampleRate; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    double buzz = 0.0;
    for (int k = 1; k <= kHarmonics; ++k) buzz += std::sin(2.0 * std::numbers::pi * kBuzzHz * k * t) / k;
    const double fade = std::sin(std::numbers::pi * t);
    const double syllables = 0.7 + 0.3 * std::sin(2.0 * std::numbers::pi * 4.0 * t);
    audio[static_cast<size_t>(i)] = static_cast<float>(0.3 * fade * syllables * buzz);
  }
  return audio;
}

// Lower lip's y minus upper lip's y in frame f's keypoints.
float mouthOpening(const std::vector<float>& rows, int f) {
  const size_t at = static_cast<size_t>(f) * kKeypointValues;
  return rows[at + 3 * demo::kLowerLip + 1] - rows[at + 3 * demo::kUpperLip + 1];
}

class DemoMotion : public ::testing::Test {
 protected:
  DemoMotion() { demo::writeDemoBundle(recipe_, dir_.path()); }

  std::string motionDir() const { return dir_ / demo::kMotionDir; }

  demo::DemoRecipe recipe_ = demo::smallRecipe();
  test::TempDir dir_;
};

TEST_F(DemoMotion, IdleRowsAreTheSourceKeypointsOfEverySourceFrame) {
  const int NT = loadManifest(dir_.path()).NT;
  const std::vector<float> targets = floatsOf(readFile(motionDir() + "/xs_target.bin"));
  const std::vector<float> driveSource = floatsOf(readFile(dir_ / "drive/xs.f32"));
  ASSERT_EQ(targets.size(), static_cast<size_t>(NT) * kKeypointValues);
  for (size_t i = 0; i < targets.size(); ++i) ASSERT_EQ(targets[i], driveSource[i % kKeypointValues]) << i;
}

TEST_F(DemoMotion, VoicedSpeechOpensTheMouthAndSilenceBringsTheIdleFaceBack) {
  const test::ScopedEnv w2v("W2V_ONNX", (motionDir() + "/w2v_8s.onnx").c_str());
  SpeechEncoder encoder;
  A2xStream stream(motionDir(), 1, encoder);
  const test::PulledFrames frames = test::streamAudio(
      stream, buzzThenSilence(), [] { return kSamplesPerFrame; }, true);
  ASSERT_EQ(stream.extendFailure, "");
  ASSERT_EQ(static_cast<int64_t>(frames.idx.size()), stream.total());

  const std::vector<float> reach = demo::mouthReach();
  const float widest = reach[3 * demo::kLowerLip + 1] - reach[3 * demo::kUpperLip + 1];
  const float idle = mouthOpening(frames.xs, 0);
  // 0.2 s to 0.8 s sound well inside the fade; from 1.4 s on, nothing has sounded for 0.4 s.
  for (int f = 5; f < 20; ++f) {
    const float opened = mouthOpening(frames.kp, f) - idle;
    EXPECT_GT(opened, 0.4f * widest) << "frame " << f;
    EXPECT_LT(opened, widest) << "frame " << f;
  }
  for (int f = 35; f < 50; ++f) {
    for (int j = 0; j < kKeypointValues; ++j) {
      const size_t at = static_cast<size_t>(f) * kKeypointValues + j;
      ASSERT_NEAR(frames.kp[at], frames.xs[at], 1e-3f) << "frame " << f << " value " << j;
    }
  }
  // Only what the mouth moves ever moves.
  for (size_t at = 0; at < frames.kp.size(); ++at) {
    if (reach[at % kKeypointValues] == 0.0f) {
      ASSERT_EQ(frames.kp[at], frames.xs[at]) << at;
    }
  }
}

TEST_F(DemoMotion, TheFcaNetworkOpensTheMouthWhileSpeechChangesAndClosesItInSilence) {
  std::vector<float> audio = test::speechAudio(kSampleRate);
  audio.resize(2 * kSampleRate, 0.0f);
  FcaModel model(motionDir() + "/w2v_8s.onnx", dir_ / "fca_stream.onnx", 1);
  std::vector<float> deltas(50 * kKeypointValues);
  model.deltas(audio.data(), static_cast<int64_t>(audio.size()), deltas.data());
  const std::vector<float> reach = demo::mouthReach();
  const float widest = reach[3 * demo::kLowerLip + 1] - reach[3 * demo::kUpperLip + 1];
  for (int f = 5; f < 20; ++f) {
    EXPECT_GT(mouthOpening(deltas, f), 0.2f * widest) << "frame " << f;
    EXPECT_LT(mouthOpening(deltas, f), widest) << "frame " << f;
  }
  for (int f = 35; f < 50; ++f) EXPECT_LT(mouthOpening(deltas, f), 0.01f * widest) << "frame " << f;
  for (size_t at = 0; at < deltas.size(); ++at) {
    if (reach[at % kKeypointValues] == 0.0f) {
      ASSERT_EQ(deltas[at], 0.0f) << at;
    }
  }
}

}  // namespace
}  // namespace ko
