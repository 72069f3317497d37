#include "audio/mel_front_end.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "audio/motion_layout.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

namespace ko::motion {
namespace {

struct AlignedFree {
  void operator()(float* values) const { av_free(values); }
};
using AlignedFloats = std::unique_ptr<float[], AlignedFree>;

// av_tx wants buffers aligned for the widest vector unit it may use.
AlignedFloats alignedFloats(size_t count) {
  AlignedFloats values(static_cast<float*>(av_malloc(count * sizeof(float))));
  if (!values) throw std::bad_alloc();
  std::fill_n(values.get(), count, 0.0f);
  return values;
}

}  // namespace

// The real-to-complex 512-point transform and its aligned in and out buffers.
struct MelFrontEnd::Transform {
  Transform() {
    const float scale = 1.0f;
    if (av_tx_init(&context, &run, AV_TX_FLOAT_RDFT, 0, kFftSize, &scale, 0) < 0 || !context) {
      throw std::runtime_error("the 512-point real transform (av_tx) could not be set up");
    }
  }
  ~Transform() { av_tx_uninit(&context); }
  Transform(const Transform&) = delete;
  Transform& operator=(const Transform&) = delete;

  AVTXContext* context = nullptr;
  av_tx_fn run = nullptr;
  AlignedFloats frame = alignedFloats(kFftSize);
  AlignedFloats spectrum = alignedFloats(2 * kFftBins);  // re, im of the 257 non-negative frequencies
};

MelFrontEnd::MelFrontEnd(std::vector<float> window, std::vector<float> melMatrix)
    : window_(std::move(window)),
      melMatrix_(std::move(melMatrix)),
      transform_(std::make_unique<Transform>()),
      padded_(kWindowSamples + 2 * kReflectPad),
      magnitudes_(static_cast<size_t>(kHops) * kFftBins) {
  if (window_.size() != static_cast<size_t>(kFftSize) ||
      melMatrix_.size() != static_cast<size_t>(kFftBins) * kMelBands) {
    throw std::invalid_argument("the analysis window or the mel matrix has the wrong size");
  }
}

MelFrontEnd::~MelFrontEnd() = default;

void MelFrontEnd::logMel(const float* samples, float* out) {
  // Reflection leaves the edge sample out, as numpy's "reflect" does.
  float* padded = padded_.data();
  std::copy_n(samples, kWindowSamples, padded + kReflectPad);
  for (int i = 0; i < kReflectPad; ++i) {
    padded[i] = samples[kReflectPad - i];
    padded[kReflectPad + kWindowSamples + i] = samples[kWindowSamples - 2 - i];
  }
  Transform& t = *transform_;
  for (int hop = 0; hop < kHops; ++hop) {
    const float* from = padded + hop * kHop;
    for (int i = 0; i < kFftSize; ++i) t.frame[i] = from[i] * window_[i];
    t.run(t.context, t.spectrum.get(), t.frame.get(), sizeof(float));
    float* magnitude = magnitudes_.data() + hop * kFftBins;
    for (int bin = 0; bin < kFftBins; ++bin) {
      const float re = t.spectrum[2 * bin], im = t.spectrum[2 * bin + 1];
      magnitude[bin] = std::sqrt(re * re + im * im);
    }
  }
  // Bin-major weights: the inner loop runs over contiguous bands into a local accumulator, which
  // the compiler keeps in vector registers.
  for (int hop = 0; hop < kHops; ++hop) {
    const float* magnitude = magnitudes_.data() + hop * kFftBins;
    float energy[kMelBands] = {};
    for (int bin = 0; bin < kFftBins; ++bin) {
      const float m = magnitude[bin];
      const float* __restrict weights = melMatrix_.data() + bin * kMelBands;
      for (int band = 0; band < kMelBands; ++band) energy[band] += m * weights[band];
    }
    for (int band = 0; band < kMelBands; ++band) out[band * kHops + hop] = std::log(energy[band] + 1e-8f);
  }
}

}  // namespace ko::motion
