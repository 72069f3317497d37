// `ko speak` on the small demo identity: the movie holds every frame the summary counts and the
// speech starts with the first speech frame; its failures print one clear sentence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "driver/image_io.h"
#include "driver/source.h"
#include "ko/ko.h"
#include "tests/support/c_handles.h"
#include "tests/support/ko_tool_run.h"
#include "tests/support/movie_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_identity.h"
#include "tools/demo/demo_motion.h"
#include "tools/media/speech_reader.h"

namespace ko {
namespace {

constexpr int kRate = 22050;  // as espeak-ng writes, so the tool resamples
constexpr int kSpeechFrames = 25;
constexpr int kSamplesPerFrame = tools::kSpeechRate / 25;
constexpr double kAmplitude = 9000;

// One second of a 180 Hz buzz, loud from its first sample.
std::vector<int16_t> buzz() {
  std::vector<int16_t> samples(kRate);
  for (size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    double wave = 0;
    for (int k = 1; k <= 6; ++k) wave += std::sin(2 * std::numbers::pi * 180 * k * t) / k;
    samples[i] = static_cast<int16_t>(std::lround(kAmplitude * wave / 1.5));
  }
  return samples;
}

struct Counts {
  int frames = -1, idle = -1, speech = -1, blend = -1;
};

Counts summaryCounts(const std::string& output) {
  Counts counts;
  const size_t at = output.find("spoke ");
  if (at == std::string::npos) return counts;
  double seconds = 0;
  std::sscanf(output.c_str() + at, "spoke %lf s of speech: %d frames (%d idle, %d speech, %d blend", &seconds,
              &counts.frames, &counts.idle, &counts.speech, &counts.blend);
  return counts;
}

size_t firstLoudSample(const std::vector<int16_t>& speech) {
  for (size_t i = 0; i < speech.size(); ++i) {
    if (std::abs(speech[i]) > kAmplitude / 4) return i;
  }
  return speech.size();
}

class KoSpeak : public ::testing::TestWithParam<const char*> {
 protected:
  KoSpeak() {
    demo::writeDemoBundle(recipe_, bundle_);
    test::writeWav(audio_, kRate, 1, buzz());
  }

  std::string speak(const std::string& options) const {
    return "speak " + bundle_ + " --motion " + motion_ + " " + options;
  }

  demo::DemoRecipe recipe_ = demo::smallRecipe();
  test::TempDir dir_;
  std::string bundle_ = dir_ / "bundle", motion_ = bundle_ + "/" + demo::kMotionDir;
  std::string audio_ = dir_ / "buzz.wav", movie_ = dir_ / "spoken.mp4";
};

TEST_P(KoSpeak, WritesEveryFrameWithTheSpeechStartingAtTheFirstSpeechFrame) {
  const test::ToolRun run = test::runKo(speak(std::string("--audio ") + audio_ + " --out " + movie_ +
                                              " --sheet " + dir_ / "sheet.png " + GetParam()));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const Counts counts = summaryCounts(run.output);
  EXPECT_EQ(counts.speech, kSpeechFrames) << run.output;
  EXPECT_EQ(counts.blend, 6) << run.output;
  EXPECT_EQ(counts.frames, counts.idle + counts.speech + counts.blend) << run.output;
  for (const char* line : {"first speech frame ", "  render ", "  encode ", "[ko_utt-stage] "}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }

  const auto video = driver::openMp4(movie_, counts.frames, recipe_.W, recipe_.H);
  std::vector<uint8_t> frame(video->frameBytes());
  for (int i = 0; i < counts.frames; ++i) ASSERT_TRUE(video->next(frame.data())) << i;
  EXPECT_FALSE(video->next(frame.data()));

  const std::vector<int16_t> sound = tools::readSpeech(movie_);
  const size_t lead = static_cast<size_t>(counts.idle) * kSamplesPerFrame;
  EXPECT_NEAR(static_cast<double>(firstLoudSample(sound)), static_cast<double>(lead),
              tools::kSpeechRate / 100);
  EXPECT_NEAR(static_cast<double>(sound.size()), static_cast<double>(lead + tools::kSpeechRate),
              tools::kSpeechRate / 100);

  int width = 0, height = 0;
  loadImageRGB(dir_ / "sheet.png", &width, &height);
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
}

INSTANTIATE_TEST_SUITE_P(Pacing, KoSpeak, ::testing::Values("", "--realtime"),
                         [](const ::testing::TestParamInfo<const char*>& pacing) {
                           return pacing.param[0] == '\0' ? "AsFastAsFramesCome" : "AtRealTime";
                         });

class KoSpeakOffline : public KoSpeak {};

TEST_F(KoSpeakOffline, WritesOneSpeechFramePerPeriodWithTheSpeechFromTheFirstFrame) {
  const test::ToolRun run = test::runKo(speak("--offline --audio " + audio_ + " --out " + movie_));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("spoke 1.00 s of speech offline: 25 frames in "), std::string::npos)
      << run.output;
  const auto video = driver::openMp4(movie_, kSpeechFrames, recipe_.W, recipe_.H);
  std::vector<uint8_t> frame(video->frameBytes());
  for (int i = 0; i < kSpeechFrames; ++i) ASSERT_TRUE(video->next(frame.data())) << i;
  EXPECT_FALSE(video->next(frame.data()));
  const std::vector<int16_t> sound = tools::readSpeech(movie_);
  EXPECT_LT(firstLoudSample(sound), static_cast<size_t>(tools::kSpeechRate / 100));
  EXPECT_NEAR(static_cast<double>(sound.size()), tools::kSpeechRate, tools::kSpeechRate / 100);

  const test::ToolRun paced =
      test::runKo(speak("--offline --realtime --audio " + audio_ + " --out " + movie_));
  EXPECT_NE(paced.exitCode, 0);
  EXPECT_NE(paced.output.find("usage: ko speak"), std::string::npos) << paced.output;
}

class KoSpeakTeeth : public KoSpeak {
 protected:
  KoSpeakTeeth() {
    demo::writeDemoBundle(demo::toothedSmallRecipe(), toothed_);
  }
  std::string toothed_ = dir_ / "toothed";
};

TEST_F(KoSpeakTeeth, ArmsTheBundlesTeethOnlyWhenItCarriesThem) {
  const std::string motion = " --motion " + toothed_ + "/" + demo::kMotionDir + " --audio " + audio_;
  const test::ToolRun armed = test::runKo("speak " + toothed_ + motion + " --out " + movie_);
  ASSERT_EQ(armed.exitCode, 0) << armed.output;
  EXPECT_NE(armed.output.find("teeth      armed: 32 donors, corpus pi geometry "), std::string::npos)
      << armed.output;
  const Counts counts = summaryCounts(armed.output);
  const std::string applied =
      "  teeth   applied to " + std::to_string(counts.speech + counts.blend) + " frames\n";
  EXPECT_NE(armed.output.find(applied), std::string::npos) << armed.output;

  const test::ToolRun plain = test::runKo("speak " + toothed_ + motion + " --no-teeth --out " + movie_);
  ASSERT_EQ(plain.exitCode, 0) << plain.output;
  EXPECT_EQ(plain.output.find("teeth"), std::string::npos) << plain.output;

  char refusal[512] = "";
  EXPECT_EQ(ko_tessera_members_open(bundle_.c_str(), refusal, sizeof refusal), nullptr);
  const test::ToolRun required = test::runKo(speak("--teeth --audio " + audio_ + " --out " + movie_));
  EXPECT_EQ(required.exitCode, 1);
  EXPECT_NE(required.output.find(std::string("ko speak: teeth refused: ") + refusal + "\n"),
            std::string::npos)
      << required.output;
  const test::ToolRun offline =
      test::runKo(speak("--teeth --offline --audio " + audio_ + " --out " + movie_));
  EXPECT_EQ(offline.exitCode, 2);
  EXPECT_NE(offline.output.find("usage: ko speak"), std::string::npos) << offline.output;
}

// What the library says of a motion directory it cannot load, through its own calls.
std::string modelRefusal(const std::string& bundle, const std::string& motion) {
  const test::SessionHandle session(ko_create(bundle.c_str(), demo::kDemoModelKey, 1, nullptr));
  ko_utt* utt = ko_utt_open(session.get(), motion.c_str());
  while (ko_utt_ready(utt) == 0) {
  }
  const std::string text = ko_utt_last_error();
  ko_utt_destroy(utt);
  return text;
}

class KoSpeakRefusal : public KoSpeak {};

TEST_F(KoSpeakRefusal, PrintsOneSentenceAndFails) {
  const std::string noise = dir_ / "noise.wav", still = dir_ / "still.png", empty = dir_ / "empty";
  test::writeBytes(noise, "these bytes are no sound at all");
  std::filesystem::create_directories(empty);
  const std::string modelText = modelRefusal(bundle_, empty);
  ASSERT_NE(modelText, "");
  const struct {
    std::string arguments, line;
  } refusals[] = {
      {speak("--audio " + noise + " --out " + movie_),
       "ko speak: reading " + noise + ": cannot open the file ("},
      {speak("--audio " + audio_ + " --out " + still),
       "ko speak: " + still + " is no movie path: speech needs an .mp4, .mov or .mkv movie to play in\n"},
      {"speak " + bundle_ + " --motion " + empty + " --audio " + audio_ + " --out " + movie_,
       "ko: " + modelText + "\n"},
  };
  for (const auto& refusal : refusals) {
    const test::ToolRun run = test::runKo(refusal.arguments);
    EXPECT_EQ(run.exitCode, 1) << refusal.arguments;
    EXPECT_NE(run.output.find(refusal.line), std::string::npos) << refusal.line << "\n" << run.output;
  }

  std::filesystem::copy_file(bundle_ + "/model_render.onnx", bundle_ + "/model_other.onnx");
  const test::ToolRun ambiguous = test::runKo(speak("--audio " + audio_ + " --out " + movie_));
  EXPECT_EQ(ambiguous.exitCode, 1);
  EXPECT_NE(ambiguous.output.find(
                "ko speak: the bundle holds 2 directors (other, render); choose one with --model KEY\n"),
            std::string::npos)
      << ambiguous.output;

  for (const std::string& incomplete :
       {speak("--audio " + audio_), speak("--out " + movie_),
        "speak --motion " + motion_ + " --audio " + audio_ + " --out " + movie_}) {
    const test::ToolRun run = test::runKo(incomplete);
    EXPECT_EQ(run.exitCode, 2) << incomplete;
    EXPECT_NE(run.output.find("usage: ko speak"), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace ko
