// The FCA model against a reference written plainly here: the encoder run window by window in
// ONNX Runtime, the features picked and averaged by the hop rule, normalised by sorting, and the
// expression network stepped in a session of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "audio/causal_norm.h"
#include "bundle/bundle.h"
#include "ko/ko_a2x.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/ort_run.h"
#include "tests/support/speech_reference.h"
#include "tests/support/temp_dir.h"
#include "tools/authoring/speech_models.h"

namespace ko::test {
namespace {

constexpr int kWidth = kFeatureWidth;

struct FcaCloser {
  void operator()(ko_fca* fca) const { ko_fca_destroy(fca); }
};
using FcaHandle = std::unique_ptr<ko_fca, FcaCloser>;

// The threshold of frame t, straight from its definition.
double referenceThreshold(const std::vector<float>& energies, size_t t) {
  if (t <= 6) return 0.0;
  std::vector<float> heard(energies.begin(), energies.begin() + static_cast<std::ptrdiff_t>(t) + 1);
  std::sort(heard.begin(), heard.end());
  const double position = 0.2 * static_cast<double>(t);
  const size_t low = static_cast<size_t>(std::floor(position));
  const size_t high = static_cast<size_t>(std::ceil(position));
  return heard[low] + (position - static_cast<double>(low)) * (double(heard[high]) - double(heard[low]));
}

std::vector<float> referenceNormalised(std::vector<float> features, int64_t width) {
  const size_t frames = features.size() / static_cast<size_t>(width);
  std::vector<float> energies;
  for (size_t t = 0; t < frames; ++t) {
    double squares = 0;
    for (int64_t i = 0; i < width; ++i) squares += double(features[t * width + i]) * features[t * width + i];
    energies.push_back(static_cast<float>(std::sqrt(squares)));
  }
  std::vector<double> sum(static_cast<size_t>(width), 0.0);
  int counted = 0;
  for (size_t t = 0; t < frames; ++t) {
    if (energies[t] > referenceThreshold(energies, t)) {
      for (int64_t i = 0; i < width; ++i) sum[i] += features[t * width + i];
      ++counted;
    }
    for (int64_t i = 0; i < width; ++i) {
      features[t * width + i] = static_cast<float>(features[t * width + i] - sum[i] / std::max(counted, 1));
    }
  }
  return features;
}

TEST(CausalNormalisation, MatchesSortingAndRunningMeanWithTiesAndWarmup) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (const int64_t width : {1, 3}) {
    std::vector<float> features;
    for (int t = 0; t < 90; ++t) {
      // Every fourth frame repeats an earlier one, so equal energies meet at the quantile.
      if (t % 4 == 3) {
        const std::vector<float> earlier(features.begin() + (t / 2) * width,
                                         features.begin() + (t / 2 + 1) * width);
        features.insert(features.end(), earlier.begin(), earlier.end());
      } else {
        for (int64_t i = 0; i < width; ++i) features.push_back(t == 2 ? 0.0f : value(rng));
      }
    }
    const int64_t frames = static_cast<int64_t>(features.size()) / width;
    const std::vector<float> energies = frameEnergies(features.data(), frames, width);
    const std::vector<double> thresholds = causalThresholds(energies);
    for (size_t t = 0; t < energies.size(); ++t) {
      EXPECT_DOUBLE_EQ(thresholds[t], referenceThreshold(energies, t)) << "frame " << t;
    }
    const std::vector<float> expected = referenceNormalised(features, width);
    normaliseCausally(features.data(), frames, width);
    for (size_t i = 0; i < features.size(); ++i) ASSERT_NEAR(features[i], expected[i], 1e-6) << i;
  }
}

TEST(CausalNormalisation, EveryWarmupFrameWithEnergyJoinsTheMean) {
  // Falling energies: frame 6 lies under the 20 % quantile of the first seven, yet still counts.
  std::vector<float> features{7, 6, 5, 4, 3, 2, 1};
  normaliseCausally(features.data(), 7, 1);
  for (int t = 0; t < 7; ++t) EXPECT_FLOAT_EQ(features[t], -t / 2.0f) << t;
}

class FcaModelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    encoderPath_ = authoring::writeSpeechEncoderFiles(dir_->path());
    modelPath_ = *dir_ / "fca_stream.onnx";
    authoring::writeFcaStream(modelPath_);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static FcaHandle open() {
    FcaHandle fca(ko_fca_create(encoderPath_.c_str(), modelPath_.c_str(), 1));
    EXPECT_NE(fca, nullptr) << ko_fca_last_error();
    return fca;
  }

  // Features by the hop rule: window W covers frames W .. W + 199, later windows from W + 50, and a
  // frame keeps what the first window to reach it gave.
  static std::vector<float> referenceFeatures(const std::vector<float>& audio, int64_t frames) {
    const std::vector<uint8_t> encoder = authoring::speechEncoder8s();
    std::vector<float> features(static_cast<size_t>(frames) * kWidth);
    std::vector<bool> filled(static_cast<size_t>(frames), false);
    for (int64_t start = 0; start < frames; start += 100) {
      const std::vector<FloatTensor> emb =
          runModel(encoder, {{"input_values", {{1, 128000}, normalisedWindow(audio, start * 640, 128000)}}},
                   {"audio_emb"});
      for (int64_t k = start == 0 ? 0 : 50; k < 200 && start + k < frames; ++k) {
        if (filled[start + k]) continue;
        filled[start + k] = true;
        for (int i = 0; i < kWidth; ++i) {
          double sum = 0;
          for (int layer = 4; layer <= 9; ++layer) sum += emb[0].values[(layer * 200 + k) * kWidth + i];
          features[(start + k) * kWidth + i] = static_cast<float>(sum / 6);
        }
      }
    }
    return features;
  }

  static std::vector<float> referenceDeltas(const std::vector<float>& normalised, int64_t frames) {
    const std::string bytes = readFile(modelPath_);
    const std::vector<uint8_t> model(bytes.begin(), bytes.end());
    FloatTensor cond{{1, 5376}, std::vector<float>(5376)}, prev{{1, 63}, std::vector<float>(63, 0.0f)},
        state{{1, 384}, std::vector<float>(384, 0.0f)};
    std::vector<float> deltas;
    for (int64_t t = 0; t < frames; ++t) {
      for (int c = 0; c < 7; ++c) {
        const int64_t source = std::clamp<int64_t>(t - 1 + c, 0, frames - 1);
        std::copy_n(normalised.begin() + source * kWidth, kWidth, cond.values.begin() + c * kWidth);
      }
      std::vector<FloatTensor> out =
          runModel(model, {{"cond", cond}, {"prev", prev}, {"h", state}}, {"m", "hn"});
      prev.values = out[0].values;
      state.values = out[1].values;
      deltas.insert(deltas.end(), prev.values.begin(), prev.values.end());
    }
    return deltas;
  }

  static TempDir* dir_;
  static std::string encoderPath_;
  static std::string modelPath_;
};

TempDir* FcaModelTest::dir_ = nullptr;
std::string FcaModelTest::encoderPath_;
std::string FcaModelTest::modelPath_;

TEST_F(FcaModelTest, ThreeWindowsOfFeaturesAndEveryStepMatchTheReference) {
  // 250 frames: three windows, the last two contributing past their overlap.
  const std::vector<float> audio = speechAudio(250 * 640 - 100);
  const int64_t frames = 250;
  FcaModel model(encoderPath_, modelPath_, 1);
  const std::vector<float> features = model.features(audio.data(), static_cast<int64_t>(audio.size()));
  const std::vector<float> expected = referenceFeatures(audio, frames);
  ASSERT_EQ(features.size(), expected.size());
  for (size_t i = 0; i < features.size(); ++i) ASSERT_NEAR(features[i], expected[i], 1e-5) << i;

  const std::vector<float> reference = referenceDeltas(referenceNormalised(expected, kWidth), frames);
  const FcaHandle fca = open();
  std::vector<float> deltas(static_cast<size_t>(frames) * 63);
  ASSERT_EQ(ko_fca_deltas(fca.get(), audio.data(), static_cast<int>(audio.size()), deltas.data(), 250), 250)
      << ko_fca_last_error();
  for (size_t i = 0; i < deltas.size(); ++i) ASSERT_NEAR(deltas[i], reference[i], 2e-5) << i;
  // The network really follows the audio: a different utterance gives different deltas.
  const std::vector<float> other = speechAudio(audio.size(), 9);
  std::vector<float> otherDeltas(deltas.size());
  ASSERT_EQ(ko_fca_deltas(fca.get(), other.data(), static_cast<int>(other.size()), otherDeltas.data(), 250),
            250);
  EXPECT_NE(deltas, otherDeltas);
}

TEST_F(FcaModelTest, FrameCountsAndRefusals) {
  const FcaHandle fca = open();
  const std::vector<float> audio = speechAudio(3 * 640);
  std::vector<float> out(3 * 63, 7.0f);
  EXPECT_EQ(ko_fca_deltas(fca.get(), audio.data(), 0, out.data(), 3), 0);
  EXPECT_EQ(ko_fca_deltas(fca.get(), nullptr, -5, nullptr, 0), 0);
  EXPECT_EQ(ko_fca_deltas(fca.get(), audio.data(), 1, out.data(), 1), 1) << ko_fca_last_error();
  EXPECT_STREQ(ko_fca_last_error(), "");
  out.assign(out.size(), 7.0f);
  EXPECT_EQ(ko_fca_deltas(fca.get(), audio.data(), 2 * 640 + 1, out.data(), 2), -1);
  EXPECT_STREQ(ko_fca_last_error(), "ko_fca_deltas: 3 frames do not fit max_frames 2");
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 7.0f; }));
  EXPECT_EQ(ko_fca_deltas(fca.get(), nullptr, 640, out.data(), 3), -1);
  EXPECT_STREQ(ko_fca_last_error(), "ko_fca_deltas: NULL samples/out");

  const std::string missing = *dir_ / "absent.onnx";
  EXPECT_EQ(ko_fca_create(encoderPath_.c_str(), missing.c_str(), 1), nullptr);
  const std::string text = ko_fca_last_error();
  EXPECT_EQ(text.rfind("ko_fca_create: ", 0), 0u) << text;
  EXPECT_NE(text.find("absent.onnx"), std::string::npos) << text;
}

}  // namespace
}  // namespace ko::test
