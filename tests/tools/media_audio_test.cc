#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "driver/ff_handles.h"
#include "driver/source.h"
#include "tests/support/failure_text.h"
#include "tests/support/movie_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/media/movie_encoder.h"
#include "tools/media/speech_reader.h"

namespace ko {
namespace {

using Samples = std::vector<int16_t>;
using tools::kSpeechRate;

constexpr double kTone = 440.0;       // Hz; a whole number of periods in every length below
constexpr double kAmplitude = 12000;  // well clear of clipping after any mixing
constexpr int kFrames = 25, kFps = 25;

// `count` instants of the tone at `rate`, the same in every channel.
Samples tone(int rate, int channels, size_t count) {
  Samples interleaved;
  for (size_t i = 0; i < count; ++i) {
    const double phase = 2 * std::numbers::pi * kTone * static_cast<double>(i) / rate;
    interleaved.insert(interleaved.end(), static_cast<size_t>(channels),
                       static_cast<int16_t>(std::lround(kAmplitude * std::sin(phase))));
  }
  return interleaved;
}

// The share of the power of samples[from, end) that lies at `frequency`: near 1 for a sine there,
// near 0 for a sine elsewhere, whatever its phase.
double powerShareAt(const Samples& samples, double frequency, size_t from = 0) {
  double inPhase = 0, quadrature = 0, power = 0;
  for (size_t i = from; i < samples.size(); ++i) {
    const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / kSpeechRate;
    inPhase += samples[i] * std::sin(phase);
    quadrature += samples[i] * std::cos(phase);
    power += static_cast<double>(samples[i]) * samples[i];
  }
  const double count = static_cast<double>(samples.size() - from);
  return power == 0 ? 0 : 2 * (inPhase * inPhase + quadrature * quadrature) / (count * power);
}

void expectTheTone(const Samples& speech, size_t from = 0) {
  EXPECT_GT(powerShareAt(speech, kTone, from), 0.9);
  EXPECT_LT(powerShareAt(speech, kTone * 1.5, from), 0.05);
}

// The resampler's filter may shift a few samples at either end.
void expectLength(const Samples& speech, size_t expected) {
  EXPECT_NEAR(static_cast<double>(speech.size()), static_cast<double>(expected), 0.01 * expected);
}

struct WavCase {
  const char* name;
  int rate;
  int channels;
};

class SpeechFromWav : public ::testing::TestWithParam<WavCase> {};

TEST_P(SpeechFromWav, ArrivesAtSixteenKilohertzMono) {
  const test::TempDir dir;
  const WavCase wav = GetParam();
  const std::string path = dir / "speech.wav";
  test::writeWav(path, wav.rate, wav.channels,
                 tone(wav.rate, wav.channels, static_cast<size_t>(wav.rate / 2)));
  const Samples speech = tools::readSpeech(path);
  expectLength(speech, kSpeechRate / 2);
  expectTheTone(speech);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SpeechFromWav,
                         ::testing::Values(WavCase{"CdStereo", 44100, 2}, WavCase{"PhoneMono", 8000, 1},
                                           WavCase{"SpeechRateMono", kSpeechRate, 1}),
                         [](const ::testing::TestParamInfo<WavCase>& wav) { return wav.param.name; });

// When, relative to the frames, the speech reaches the encoder.
enum class Push { AllFirst, WithEachFrame, AllLast };
struct PushCase {
  const char* name;
  Push push;
};

test::MovieRecipe spokenRecipe() {
  test::MovieRecipe recipe;
  recipe.frames = kFrames;
  recipe.fps = kFps;
  recipe.audioRate = kSpeechRate;
  return recipe;
}

// Half a second of silence, then half a second of the tone: one second, as long as the frames.
Samples silenceThenTone() {
  Samples speech(kSpeechRate / 2, 0);
  const Samples second = tone(kSpeechRate, 1, kSpeechRate / 2);
  speech.insert(speech.end(), second.begin(), second.end());
  return speech;
}

void writeSpokenMovie(const std::string& path, const test::MovieRecipe& recipe, const Samples& speech,
                      Push push) {
  tools::MovieEncoder movie(path, recipe);
  if (push == Push::AllFirst) movie.encodeAudio(speech.data(), speech.size());
  const size_t perFrame = speech.size() / static_cast<size_t>(recipe.frames);
  for (int i = 0; i < recipe.frames; ++i) {
    const test::YuvPicture picture = test::moviePicture(recipe, i);
    const uint8_t* planes[3] = {picture.y.data(), picture.u.data(), picture.v.data()};
    movie.encodePlanes(planes);
    if (push == Push::WithEachFrame) movie.encodeAudio(speech.data() + i * perFrame, perFrame);
  }
  if (push == Push::AllLast) movie.encodeAudio(speech.data(), speech.size());
  movie.finish();
}

size_t firstLoudSample(const Samples& speech) {
  for (size_t i = 0; i < speech.size(); ++i) {
    if (std::abs(speech[i]) > kAmplitude / 4) return i;
  }
  return speech.size();
}

class SpokenMovie : public ::testing::TestWithParam<PushCase> {};

TEST_P(SpokenMovie, KeepsItsSpeechInStepWithItsFrames) {
  const test::TempDir dir;
  const std::string path = dir / "spoken.mp4";
  const test::MovieRecipe recipe = spokenRecipe();
  writeSpokenMovie(path, recipe, silenceThenTone(), GetParam().push);

  const Samples speech = tools::readSpeech(path);
  expectLength(speech, kSpeechRate);
  // The encoder's priming samples are not heard: the tone starts where it was put, to within 10 ms.
  EXPECT_NEAR(static_cast<double>(firstLoudSample(speech)), kSpeechRate / 2, kSpeechRate / 100);
  expectTheTone(speech, kSpeechRate / 2 + kSpeechRate / 50);

  const auto video = driver::openMp4(path, kFrames, recipe.width, recipe.height);
  std::vector<uint8_t> frame(video->frameBytes());
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_TRUE(video->next(frame.data())) << i;
    EXPECT_EQ(frame, test::expectedRgb(test::moviePicture(recipe, i))) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Pacing, SpokenMovie,
                         ::testing::Values(PushCase{"AllFirst", Push::AllFirst},
                                           PushCase{"WithEachFrame", Push::WithEachFrame},
                                           PushCase{"AllLast", Push::AllLast}),
                         [](const ::testing::TestParamInfo<PushCase>& push) { return push.param.name; });

std::string cannotOpen(const std::string& path, int error) {
  return "reading " + path + ": cannot open the file (" + driver::avErrorText(error) + ")";
}

TEST(ReadSpeech, RefusesWhatHoldsNoSpeech) {
  const test::TempDir dir;
  test::writeMovie(dir / "silent.mp4", test::MovieRecipe{});
  test::writeBytes(dir / "text.wav", "these bytes are no sound at all");
  const struct {
    std::string path, failure;
  } refusals[] = {
      {dir / "missing.wav", cannotOpen(dir / "missing.wav", AVERROR(ENOENT))},
      {dir / "text.wav", cannotOpen(dir / "text.wav", AVERROR_INVALIDDATA)},
      {dir / "silent.mp4", "reading " + dir / "silent.mp4" + ": no audio stream"},
  };
  for (const auto& refusal : refusals) {
    EXPECT_EQ(test::failureText([&] { tools::readSpeech(refusal.path); }), refusal.failure);
  }
}

TEST(EncodeAudio, RefusesAMovieWithoutATrackAndAFinishedOne) {
  const test::TempDir dir;
  const Samples speech(100, 0);
  tools::MovieEncoder silent(dir / "silent.mp4", test::MovieRecipe{});
  EXPECT_EQ(test::failureText([&] { silent.encodeAudio(speech.data(), speech.size()); }),
            "writing " + dir / "silent.mp4" + ": no audio track");
  tools::MovieEncoder spoken(dir / "spoken.mp4", spokenRecipe());
  spoken.finish();
  EXPECT_EQ(test::failureText([&] { spoken.encodeAudio(speech.data(), speech.size()); }),
            "writing " + dir / "spoken.mp4" + ": the movie is already finished");
}

}  // namespace
}  // namespace ko
