#include "tests/support/a2x_fixture.h"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace ko::test {

A2xFixture::A2xFixture(const A2xSetup& setup)
    : w2vPath(authoring::writeSpeechEncoderFiles(
          dir / "w2v", setup.speech,
          setup.pair ? authoring::kWindowPairNames : authoring::SpeechPairNames{})),
      motionDir(dir / "motion"),
      w2vEnv("W2V_ONNX", w2vPath.c_str()) {
  authoring::writeA2xMotionDir(motionDir, setup.motion);
}

std::vector<float> speechAudio(size_t samples, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  std::vector<float> audio(samples);
  for (size_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / 16000.0;
    const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 4.0 * t + seed);
    const double tones = 0.3 * std::sin(2 * std::numbers::pi * (180.0 + 40.0 * std::sin(t)) * t) +
                         0.2 * std::sin(2 * std::numbers::pi * 1100.0 * t);
    audio[i] = static_cast<float>(envelope * (0.4 * noise(rng) + tones));
  }
  return audio;
}

void PulledFrames::append(const int32_t* rows, const float* xsRows, const float* kpRows, const float* wnRows,
                          int64_t count) {
  idx.insert(idx.end(), rows, rows + count);
  xs.insert(xs.end(), xsRows, xsRows + count * kKeypointValues);
  kp.insert(kp.end(), kpRows, kpRows + count * kKeypointValues);
  if (wnRows) wn.insert(wn.end(), wnRows, wnRows + count);
}

void pullAll(A2xStream& stream, PulledFrames& frames, int64_t max) {
  std::vector<int32_t> idx(static_cast<size_t>(max));
  std::vector<float> xs(static_cast<size_t>(max) * kKeypointValues);
  std::vector<float> kp(xs.size());
  std::vector<float> wn(static_cast<size_t>(max));
  for (;;) {
    const int64_t got = stream.pull(idx.data(), xs.data(), kp.data(), wn.data(), max);
    if (got == 0) return;
    frames.append(idx.data(), xs.data(), kp.data(), wn.data(), got);
  }
}

void expectBoundedBuffers(int seconds) {
  A2xFixture fixture;
  std::unique_ptr<A2xStream> stream = fixture.stream();
  const std::vector<float> audio = speechAudio(16000);
  int64_t mostSamples = 0;
  int64_t mostRows = 0;
  PulledFrames frames;
  for (int second = 0; second < seconds; ++second) {
    for (size_t at = 0; at < audio.size(); at += 640) {
      stream->push(audio.data() + at, 640);
      pullAll(*stream, frames, 4);
      mostSamples = std::max(mostSamples, stream->features.audio.end() - stream->features.audio.dropped());
      for (const RowBuffer* rows : {&stream->features.feat, &stream->hidden, &stream->deltaRows}) {
        mostRows = std::max(mostRows, rows->end() - rows->dropped());
      }
    }
  }
  ASSERT_EQ(stream->extendFailure, "");
  EXPECT_GT(static_cast<int64_t>(frames.idx.size()), seconds * 25 - 40);
  EXPECT_LE(mostSamples, 81920 + 32000 + 32 * 640);
  EXPECT_LE(mostRows, 128 + 64 + 40);
}

}  // namespace ko::test
