// The motion stream against the arithmetic done here from its networks' raw outputs: feature rows,
// three generator chunks with their blends, conditioning rows and smoothing, the final clamp and the
// emitted keypoints; and its output independent of how audio arrives, where rows walk and resets.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "audio/audio.h"
#include "audio/motion_pose.h"
#include "audio/row_walk.h"
#include "tests/support/motion_fixture.h"

namespace ko::test {
namespace {

using namespace ko::motion;

constexpr int64_t kThreeChunkFrames = 2 * kChunkAdvance + 35;  // the third chunk overhangs the audio

std::vector<float> utterance(int64_t frames, uint32_t seed = 3) {
  return speechAudio(static_cast<size_t>(frames * kSamplesPerFrame - 200), seed);
}

const float* rowOf(const std::vector<float>& rows, int64_t f, int width) {
  return rows.data() + f * width;
}

// Feature rows of every window: log-mel of the window's samples (zero outside the audio), the
// student, its scale, the pair means and the condition channels.
std::vector<float> expectedFeatures(const MotionFixture& fixture, const MotionTables& t,
                                    const std::vector<float>& audio, int64_t windows) {
  MelFrontEnd mel(t.window, t.melMatrix);
  std::vector<float> rows;
  for (int64_t w = 0; w < windows * kWindowFrames; w += kWindowFrames) {
    std::vector<float> samples(kWindowSamples, 0.0f);
    for (int i = 0; i < kWindowSamples; ++i) {
      const int64_t at = w * kSamplesPerFrame - kWindowLead + i;
      if (at >= 0 && at < static_cast<int64_t>(audio.size())) samples[i] = audio[at];
    }
    FloatTensor block{{1, kMelBands, kHops}, std::vector<float>(kMelBands * kHops)};
    mel.logMel(samples.data(), block.values.data());
    const std::vector<float> feat = fixture.run("hubert_student.onnx", {{"mel", block}}, "feat");
    for (int f = 0; f < kWindowFrames; ++f) {
      for (int j = 0; j < kSpeechFeatures; ++j) {
        const int e = kStudentSkip + 2 * f;
        const float a = feat[e * kSpeechFeatures + j] * t.featStd[j] + t.featMean[j];
        const float b = feat[(e + 1) * kSpeechFeatures + j] * t.featStd[j] + t.featMean[j];
        rows.push_back((a + b) * 0.5f);
      }
      const float* emotion = t.emotion.data() + ((w + f) % t.meta.nEmo) * kEmotionValues;
      rows.insert(rows.end(), emotion, emotion + kEmotionValues);
      for (const std::vector<float>* channel : {&t.eyeOpen, &t.eyeBall, &t.sc}) {
        rows.insert(rows.end(), channel->begin(), channel->end());
      }
    }
  }
  return rows;
}

// The mean of the first 202 values over f - 1 .. f + 1 within [0, count), from unsmoothed rows.
std::vector<float> smoothed(const std::vector<float>& rows, int64_t a, int64_t b, int64_t count) {
  std::vector<float> out = rows;
  for (int64_t f = std::max<int64_t>(a, 0); f < std::min(b, count); ++f) {
    for (int j = 0; j < row::kSmoothed; ++j) {
      float sum = 0;
      int n = 0;
      for (int64_t g = std::max<int64_t>(f - 1, 0); g <= std::min(f + 1, count - 1); ++g, ++n) {
        sum += rows[g * row::kWidth + j];
      }
      out[f * row::kWidth + j] = sum / static_cast<float>(n);
    }
  }
  return out;
}

// Held motion rows after running chunks over the features until `total` frames exist.
std::vector<float> expectedMotion(const MotionFixture& fixture, const MotionTables& t,
                                  const std::vector<float>& features, int64_t total) {
  const std::vector<float>& p = t.reference;
  std::vector<float> reference = {p[params::kScale] - 1.0f};
  for (int part : {params::kPitch, params::kYaw, params::kRoll})
    reference.insert(reference.end(), &p[part], &p[part] + kBins);
  reference.insert(reference.end(), &p[params::kT], &p[params::kT] + 3);
  reference.insert(reference.end(), &p[params::kExp], &p[params::kExp] + kKeypointValues);
  std::vector<float> held;
  for (int64_t s = 0; static_cast<int64_t>(held.size()) / row::kWidth < total; s += kChunkAdvance) {
    const int64_t count = static_cast<int64_t>(held.size()) / row::kWidth;
    FloatTensor cond{{1, row::kWidth}, reference};
    if (count > 0) std::copy_n(rowOf(held, count - 11, row::kWidth), row::kSmoothed, cond.values.begin());
    FloatTensor aud{{1, kChunkFrames, kFeatureValues}, {}};
    for (int64_t i = 0; i < kChunkFrames; ++i) {
      const float* f = rowOf(features, std::min(s + i, total - 1), kFeatureValues);
      aud.values.insert(aud.values.end(), f, f + kFeatureValues);
    }
    const std::vector<float> pred = fixture.run("lmdm.onnx", {{"kp_cond", cond}, {"aud_cond", aud}}, "pred");
    if (count == 0) {
      held = pred;
      continue;
    }
    for (int k = 0; k < 10; ++k) {
      for (int j = 0; j < row::kWidth; ++j) {
        float& old = held[(s + k) * row::kWidth + j];
        old = old * (1.0f - k / 10.0f) + pred[k * row::kWidth + j] * (k / 10.0f);
      }
    }
    held.insert(held.end(), pred.begin() + 10 * row::kWidth, pred.end());
    held = smoothed(held, count - 11, count, count + kChunkAdvance);
  }
  return held;
}

TEST(MotionStream, MatchesTheReferenceArithmetic) {
  const MotionFixture fixture;
  const std::unique_ptr<MotionStream> stream = fixture.stream();
  const MotionTables& t = stream->tables();
  const std::vector<float> audio = utterance(kThreeChunkFrames);
  stream->push(audio.data(), static_cast<int64_t>(audio.size()));
  stream->finish();
  const int64_t total = stream->total();
  ASSERT_EQ(total, kThreeChunkFrames);
  ASSERT_EQ(stream->chunks(), 3);

  const std::vector<float> features = expectedFeatures(fixture, t, audio, (total + 4) / 5);
  const RowBuffer& ours = stream->featureRows();
  for (int64_t f = ours.dropped(); f < total; ++f) {
    for (int j = 0; j < kFeatureValues; ++j)
      ASSERT_NEAR(ours.row(f)[j], features[f * kFeatureValues + j], 1e-5) << f;
  }
  std::vector<float> final = smoothed(expectedMotion(fixture, t, features, total), 0, total, total);
  final.resize(static_cast<size_t>(total) * row::kWidth);
  int64_t clamped = 0;
  for (int64_t f = 0; f < total; ++f) {
    for (int j = 0; j < row::kWidth; ++j) {
      float& v = final[f * row::kWidth + j];
      const float bounded = std::min(std::max(v, t.lower[j]), t.upper[j]);
      clamped += bounded != v;
      v = bounded;
      ASSERT_NEAR(stream->finalRow(f)[j], v, 1e-5) << "frame " << f << " value " << j;
    }
  }
  EXPECT_GT(clamped, total);

  PulledFrames frames;
  pullAll(*stream, frames);
  ASSERT_EQ(static_cast<int64_t>(frames.idx.size()), total);
  const float gain = t.reference[params::kScale] / t.source[params::kScale];
  const float* referenceExp = final.data() + row::kExp;
  for (int64_t f = 0; f < total; ++f) {
    const int r = frames.idx[f];
    ASSERT_EQ(r, f % t.meta.nt);
    const float* src = t.source.data() + r * params::kWidth;
    const float angles[] = {bin66(src + params::kPitch), bin66(src + params::kYaw),
                            bin66(src + params::kRoll)};
    FloatTensor source{{1, kKeypointValues}, std::vector<float>(kKeypointValues)};
    FloatTensor driven = source;
    for (int point = 0; point < kKeypoints; ++point) {
      const bool lip = point == 6 || point == 12 || point == 14 || point == 17 || point == 19 || point == 20;
      for (int c = 0; c < 3; ++c) {
        const int j = 3 * point + c;
        const float e = src[params::kExp + j] +
                        (lip ? (final[f * row::kWidth + row::kExp + j] - referenceExp[j]) * gain : 0.0f);
        const float shift = c < 2 ? src[params::kT + c] : 0.0f;
        for (auto [pitch, expression, out] : {std::tuple{angles[0], src[params::kExp + j], &source},
                                              std::tuple{angles[0] + t.meta.deltaPitch, e, &driven}}) {
          const Rotation rot = poseToR(pitch, angles[1], angles[2]);
          float rotated = 0;
          for (int k = 0; k < 3; ++k) rotated += src[params::kKp + 3 * point + k] * rot[3 * k + c];
          out->values[j] = src[params::kScale] * (rotated + expression) + shift;
        }
      }
    }
    const std::vector<float> stitched =
        fixture.run("stitch.onnx", {{"kp_source", source}, {"kp_driving", driven}}, "kp_stitched");
    for (int j = 0; j < kKeypointValues; ++j) {
      const float idle = t.xsTarget[r * kKeypointValues + j];
      ASSERT_EQ(frames.xs[f * kKeypointValues + j], idle);
      ASSERT_NEAR(frames.kp[f * kKeypointValues + j],
                  idle + t.meta.sBridge * (stitched[j] - source.values[j]), 1e-5)
          << "frame " << f << " value " << j;
    }
  }
}

TEST(MotionStream, ServesTheSameFramesHoweverAudioArrives) {
  const MotionFixture fixture;
  const std::vector<float> audio = utterance(3 * kChunkAdvance + 15, 8);
  const std::unique_ptr<MotionStream> reference = fixture.stream();
  const PulledFrames whole = streamAudio(
      *reference, audio, [] { return size_t{1} << 30; }, false);
  std::mt19937 rng(4);
  // Live frames come in whole settled runs; a lazy stream may still hold the last run's audio back.
  const struct {
    int eager;
    size_t fewestLive;
  } cases[] = {{-1, 3 * kChunkAdvance - 2}, {1, 3 * kChunkAdvance - 2}, {24, 2 * kChunkAdvance - 2}};
  for (const auto [eager, fewestLive] : cases) {
    SCOPED_TRACE(eager);
    const std::unique_ptr<MotionStream> stream = fixture.stream();
    stream->setEager(eager);
    PulledFrames live;
    for (size_t at = 0; at < audio.size();) {
      const size_t piece =
          std::min<size_t>(std::uniform_int_distribution<size_t>(1, 5000)(rng), audio.size() - at);
      stream->push(audio.data() + at, static_cast<int64_t>(piece));
      at += piece;
      pullAll(*stream, live, 7);
    }
    EXPECT_GE(live.idx.size(), fewestLive);
    EXPECT_LE(live.idx.size(), size_t{3 * kChunkAdvance - 2});
    stream->finish();
    pullAll(*stream, live);
    EXPECT_EQ(live.idx, whole.idx);
    EXPECT_EQ(live.kp, whole.kp);
    EXPECT_EQ(live.xs, whole.xs);
  }
}

TEST(MotionStream, RowsWalkFromTheClampedStartAndResetClearsTheUtterance) {
  struct Walk {
    int64_t start;
    int dir;
    bool loop;
    int64_t rows;
    std::vector<int64_t> expected;
  };
  const Walk walks[] = {{4, 1, true, 6, {4, 5, 0, 1, 2}},
                        {1, -1, true, 6, {1, 0, 5, 4, 3}},
                        {3, 1, false, 5, {3, 4, 3, 2, 1, 0, 1}},
                        {1, -1, false, 5, {1, 0, 1, 2, 3, 4, 3}},
                        {0, 1, false, 1, {0, 0, 0}}};
  for (const Walk& w : walks) {
    for (size_t f = 0; f < w.expected.size(); ++f) {
      EXPECT_EQ(walkRow(static_cast<int64_t>(f), w.start, w.dir, w.loop, w.rows), w.expected[f])
          << w.start << w.dir;
    }
  }
  const MotionFixture fixture;
  const std::vector<float> first = utterance(90, 5), second = utterance(40, 6);
  const std::unique_ptr<MotionStream> fresh = fixture.stream();
  fresh->reset(5, -1, false);
  const PulledFrames expected = streamAudio(
      *fresh, second, [] { return size_t{3000}; }, true);
  const std::unique_ptr<MotionStream> reused = fixture.stream();
  streamAudio(
      *reused, first, [] { return size_t{3000}; }, true);
  reused->reset(99, -7, false);
  EXPECT_EQ(reused->total(), -1);
  const PulledFrames again = streamAudio(
      *reused, second, [] { return size_t{3000}; }, true);
  EXPECT_EQ(std::vector<int32_t>(again.idx.begin(), again.idx.begin() + 8),
            (std::vector<int32_t>{5, 4, 3, 2, 1, 0, 1, 2}));
  EXPECT_EQ(again.idx, expected.idx);
  EXPECT_EQ(again.kp, expected.kp);
}

TEST(MotionStream, TwoStreamsOnTwoThreadsMatchEachAlone) {
  const MotionFixture fixture;
  const std::vector<float> audios[] = {utterance(100, 1), utterance(100, 2)};
  PulledFrames alone[2], together[2];
  for (int i = 0; i < 2; ++i) {
    alone[i] = streamAudio(
        *fixture.stream(), audios[i], [] { return size_t{2000}; }, true);
  }
  std::unique_ptr<MotionStream> streams[] = {fixture.stream(), fixture.stream()};
  {
    std::jthread threads[2];
    for (int i = 0; i < 2; ++i) {
      threads[i] = std::jthread([&, i] {
        together[i] = streamAudio(
            *streams[i], audios[i], [] { return size_t{2000}; }, true);
      });
    }
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(together[i].kp, alone[i].kp);
    EXPECT_NE(alone[i].kp, alone[1 - i].kp);
  }
}

}  // namespace
}  // namespace ko::test
