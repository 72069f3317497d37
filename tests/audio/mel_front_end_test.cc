// The log-mel front end against a direct computation here: reflection at both ends, the window, a
// double-precision DFT, magnitudes, mel dot products and logs, over random speech-like noise, a sine
// and the zero-padded first and last windows of an utterance.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>

#include "audio/mel_front_end.h"
#include "audio/motion_layout.h"
#include "tests/support/random_tensor.h"

namespace ko::test {
namespace {

using namespace ko::motion;

std::vector<double> directLogMel(const std::vector<float>& x, const std::vector<float>& window,
                                 const std::vector<float>& mel) {
  const int n = kWindowSamples;
  const auto reflected = [&](int i) { return x[i < 0 ? -i : (i >= n ? 2 * (n - 1) - i : i)]; };
  std::vector<double> out(kMelBands * kHops);
  for (int hop = 0; hop < kHops; ++hop) {
    std::vector<double> magnitude(kFftBins);
    for (int bin = 0; bin < kFftBins; ++bin) {
      double re = 0, im = 0;
      for (int t = 0; t < kFftSize; ++t) {
        const double v = static_cast<double>(reflected(hop * kHop + t - kReflectPad)) * window[t];
        const double angle = -2.0 * std::numbers::pi * bin * t / kFftSize;
        re += v * std::cos(angle);
        im += v * std::sin(angle);
      }
      magnitude[bin] = std::sqrt(re * re + im * im);
    }
    for (int band = 0; band < kMelBands; ++band) {
      double energy = 0;
      for (int bin = 0; bin < kFftBins; ++bin) energy += magnitude[bin] * mel[bin * kMelBands + band];
      out[band * kHops + hop] = std::log(energy + 1e-8);
    }
  }
  return out;
}

TEST(MelFrontEnd, MatchesADirectTransform) {
  std::mt19937 rng(5);
  std::vector<float> window(kFftSize);
  for (int t = 0; t < kFftSize; ++t)
    window[t] = 0.5f - 0.5f * std::cos(2.0f * std::numbers::pi_v<float> * t / kFftSize);
  // Sparse, uneven bands, as a real mel matrix's are.
  std::vector<float> mel = uniformValues(kFftBins * kMelBands, 0.0f, 1.0f, rng);
  for (float& weight : mel) weight = weight < 0.8f ? 0.0f : weight;
  const std::vector<float> noise = uniformValues(kWindowSamples, -0.5f, 0.5f, rng);
  struct Case {
    const char* what;
    std::function<float(int)> sample;
  };
  const Case cases[] = {
      {"noise", [&](int i) { return noise[i]; }},
      {"sine",
       [](int i) { return 0.5f * std::sin(2.0f * std::numbers::pi_v<float> * 440.0f * i / 16000.0f); }},
      {"first window", [&](int i) { return i < kWindowLead ? 0.0f : noise[i]; }},
      {"last window", [&](int i) { return i < 3000 ? noise[i] : 0.0f; }},
  };
  MelFrontEnd front(window, mel);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<float> samples(kWindowSamples);
    for (int i = 0; i < kWindowSamples; ++i) samples[i] = c.sample(i);
    std::vector<float> ours(kMelBands * kHops);
    front.logMel(samples.data(), ours.data());
    const std::vector<double> expected = directLogMel(samples, window, mel);
    for (size_t i = 0; i < ours.size(); ++i) {
      ASSERT_NEAR(ours[i], expected[i], 1e-3 + 1e-4 * std::fabs(expected[i]))
          << "band " << i / kHops << " hop " << i % kHops;
    }
  }
}

}  // namespace
}  // namespace ko::test
