#include "audio/speech_features.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/window_norm.h"
#include "simd/half.h"
#include "simd/simd.h"

namespace ko {
namespace {

constexpr int64_t kFrame = kSamplesPerFrame;
constexpr int64_t kBlockSamples = kBlockFrames * kFrame;
constexpr int64_t kLayerStride = int64_t{kLegacyWindowFrames} * kFeatureWidth;
// Trunk steps per frame of the 8 s window: its 200 frames sit on 1599 trunk steps, ends aligned.
constexpr double kStepsPerFrame = 1598.0 / 199.0;

}  // namespace

void roundThroughHalves(const float* src, float* dst, size_t count, std::vector<uint16_t>& halves) {
  halves.resize(count);
  simd::f32ToF16(src, halves.data(), count);
  simd::f16ToF32(halves.data(), dst, count);
}

std::runtime_error behind(const std::string& what) {
  return std::runtime_error("stream read behind the retained window (" + what + ")");
}

SpeechFeatures::SpeechFeatures(SpeechEncoder& sharedEncoder, std::string encoderPath, int threadCount,
                               int rightFrames)
    : encoder(sharedEncoder), w2vPath(std::move(encoderPath)), threads(threadCount), right(rightFrames) {}

int64_t SpeechFeatures::usableSamples() const {
  const int64_t pushed = samplesPushed();
  if (finished) return pushed;
  return std::min(pushed, (pushed + kFrame - 1) / kBlockSamples * kBlockSamples);
}

int64_t SpeechFeatures::usableFrames() const {
  return (usableSamples() + kFrame - 1) / kFrame;
}

Ort::Session& SpeechFeatures::w2v8() {
  if (!w2v8Session) w2v8Session = encoder.get_shared_w2v(w2vPath, threads);
  if (!w2v8Session)
    throw std::runtime_error("the shared 8 s w2v encoder did not load ($W2V_ONNX=" + w2vPath + ")");
  return *w2v8Session;
}

void SpeechFeatures::copyAudio(int64_t first, int64_t count, float* out) const {
  const int64_t begin = std::max<int64_t>(first, 0);
  const int64_t end = std::min(first + count, samplesPushed());
  if (end > begin)
    std::memcpy(out + (begin - first), audio.row(begin), static_cast<size_t>(end - begin) * sizeof(float));
}

void SpeechFeatures::fill_feat(int64_t featGoal) {
  feat.growTo(featGoal);
  window.resize(kLegacyWindowSamples);
  while (featEnd < featGoal) {
    const int64_t start = featStart;
    const int64_t first = start * kFrame;
    if (first < audio.dropped()) throw behind("8 s window audio");
    const int64_t limit =
        finished ? start + kLegacyWindowFrames
                 : std::min(start + kLegacyWindowFrames, std::max<int64_t>(0, usableFrames() - right));
    // Until the audio reaches past featEnd a run would write no row.
    if (!finished && limit <= featEnd) return;
    std::fill(window.begin(), window.end(), 0.0f);
    copyAudio(first, std::clamp<int64_t>(usableSamples() - first, 0, kLegacyWindowSamples), window.data());
    normaliseWindow(window.data(), window.size());
    Ort::Session& session = w2v8();
    const Ort::Value emb = [&] {
      RunTimer timer(encoderTime);
      return encoder.run8s(session, window.data());
    }();
    writeLegacyRows(emb.GetTensorData<float>(), start, start == 0 ? 0 : kLegacyWindowFrames - 150, limit);
    featEnd = std::max(featEnd, std::min(start + kLegacyWindowFrames, limit));
    // A live window cut short by the audio is computed again, with more audio, by the next call.
    if (!finished && limit <= start + kLegacyWindowFrames - 1) return;
    featStart += kLegacyHopFrames;
  }
}

void SpeechFeatures::writeLegacyRows(const float* emb, int64_t windowStart, int64_t firstFrame,
                                     int64_t limit) {
  for (int64_t k = firstFrame; k < kLegacyWindowFrames; ++k) {
    const int64_t frame = windowStart + k;
    if (frame < featEnd) continue;
    if (frame >= limit) break;
    if (frame < feat.dropped()) throw behind("feat frame");
    feat.growTo(frame + 1);
    float* row = feat.row(frame);
    for (int64_t layer = 0; layer < kFeatureLayers; ++layer) {
      roundThroughHalves(emb + layer * kLayerStride + k * kFeatureWidth, row + layer * kFeatureWidth,
                         kFeatureWidth, halves);
    }
  }
}

void SpeechFeatures::fill_feat_win(int64_t featGoal) {
  feat.growTo(featGoal);
  window.resize(kShortWindowSamples);
  columns.resize(size_t{kBlockFrames} * kTrunkChannels);
  while (featEnd < featGoal) {
    const int64_t block = featStart;
    const int64_t windowEnd = (block + kBlockFrames + right) * kFrame;
    if (windowEnd > usableSamples() && !finished) return;
    const int64_t first = windowEnd - kShortWindowSamples;
    if (std::max<int64_t>(first, 0) < audio.dropped() && std::max<int64_t>(first, 0) < samplesPushed()) {
      throw behind("w2v window audio");
    }
    std::fill(window.begin(), window.end(), 0.0f);
    copyAudio(first, kShortWindowSamples, window.data());
    normaliseWindow(window.data(), window.size());
    const Ort::Value trunk = [&] {
      RunTimer timer(encoderTime);
      return encoder.runTrunk(window.data());
    }();
    interpolateColumns(reinterpret_cast<const uint16_t*>(trunk.GetTensorData<Ort::Float16_t>()), block,
                       windowEnd);
    const Ort::Value emb = [&] {
      RunTimer timer(encoderTime);
      return encoder.runHead(columns.data());
    }();
    if (feat.dropped() > block) throw behind("feat block");
    feat.growTo(block + kBlockFrames);
    roundThroughHalves(emb.GetTensorData<float>(), feat.row(block), size_t{kBlockFrames} * kFeatureRow,
                       halves);
    featStart = featEnd = block + kBlockFrames;
  }
}

// Each block frame is read off the trunk at the audio position the 8 s window would have used for
// it, so both encoder forms give the same features.
void SpeechFeatures::interpolateColumns(const uint16_t* trunk, int64_t blockStart, int64_t windowEnd) {
  const int64_t length = encoder.trunkLength();
  for (int64_t k = 0; k < kBlockFrames; ++k) {
    const int64_t frame = blockStart + k;
    const int64_t legacyStart =
        frame < kLegacyWindowFrames ? 0 : (frame / kLegacyHopFrames - 1) * kLegacyHopFrames;
    const double position =
        static_cast<double>(legacyStart * kFrame - (windowEnd - kShortWindowSamples)) / kTrunkStepSamples +
        static_cast<double>(frame - legacyStart) * kStepsPerFrame;
    const double floorPosition = std::floor(position);
    if (floorPosition < 0 || floorPosition >= static_cast<double>(length)) {
      throw std::runtime_error("w2v_win: trunk pos out of range");
    }
    const int64_t t0 = static_cast<int64_t>(floorPosition);
    const int64_t t1 = std::min(t0 + 1, length - 1);
    const double weight = position - floorPosition;
    float* column = columns.data() + k * kTrunkChannels;
    for (int64_t channel = 0; channel < kTrunkChannels; ++channel) {
      const double a = half_bits::toFloat(trunk[channel * length + t0]);
      const double b = half_bits::toFloat(trunk[channel * length + t1]);
      column[channel] = static_cast<float>(a * (1.0 - weight) + b * weight);
    }
  }
  roundThroughHalves(columns.data(), columns.data(), columns.size(), halves);
}

void SpeechFeatures::reset(size_t releaseBytes) {
  audio.reset(releaseBytes);
  feat.reset(releaseBytes);
  featStart = featEnd = 0;
  finished = false;
}

}  // namespace ko
