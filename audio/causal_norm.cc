#include "audio/causal_norm.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>

namespace ko {
namespace {

// The k-th and (k+1)-th smallest of a growing set, k never decreasing: the lower heap holds the k + 1
// smallest values (its top is the k-th), the upper heap the rest (its top the (k+1)-th).
class RankPair {
 public:
  void insert(float value) {
    if (!lower_.empty() && value < lower_.top()) {
      lower_.push(value);
      upper_.push(lower_.top());
      lower_.pop();
    } else {
      upper_.push(value);
    }
  }

  // Grows the lower heap to k + 1 values; k + 1 must not exceed the set's size.
  void reach(size_t k) {
    while (lower_.size() < k + 1) {
      lower_.push(upper_.top());
      upper_.pop();
    }
  }

  float kth() const { return lower_.top(); }
  // The (k+1)-th smallest, or the k-th when k is the largest rank.
  float next() const { return upper_.empty() ? lower_.top() : upper_.top(); }

 private:
  std::priority_queue<float> lower_;
  std::priority_queue<float, std::vector<float>, std::greater<float>> upper_;
};

}  // namespace

std::vector<float> frameEnergies(const float* features, int64_t frames, int64_t width) {
  std::vector<float> energies(static_cast<size_t>(frames));
  for (int64_t t = 0; t < frames; ++t) {
    double squares = 0;
    for (int64_t i = 0; i < width; ++i) {
      const double value = features[t * width + i];
      squares += value * value;
    }
    energies[static_cast<size_t>(t)] = static_cast<float>(std::sqrt(squares));
  }
  return energies;
}

std::vector<double> causalThresholds(const std::vector<float>& energies) {
  std::vector<double> thresholds(energies.size(), 0.0);
  RankPair ranks;
  for (size_t t = 0; t < energies.size(); ++t) {
    ranks.insert(energies[t]);
    if (static_cast<int64_t>(t) <= kCausalWarmupFrames) continue;
    const double position = kCausalQuantile * static_cast<double>(t);
    const double below = std::floor(position);
    ranks.reach(static_cast<size_t>(below));
    const double low = ranks.kth();
    const double high = position > below ? ranks.next() : low;
    thresholds[t] = low + (position - below) * (high - low);
  }
  return thresholds;
}

void normaliseCausally(float* features, int64_t frames, int64_t width) {
  const std::vector<float> energies = frameEnergies(features, frames, width);
  const std::vector<double> thresholds = causalThresholds(energies);
  std::vector<double> sum(static_cast<size_t>(width), 0.0);
  int64_t counted = 0;
  for (int64_t t = 0; t < frames; ++t) {
    float* row = features + t * width;
    if (energies[static_cast<size_t>(t)] > thresholds[static_cast<size_t>(t)]) {
      for (int64_t i = 0; i < width; ++i) sum[static_cast<size_t>(i)] += row[i];
      ++counted;
    }
    const double divisor = static_cast<double>(std::max<int64_t>(counted, 1));
    for (int64_t i = 0; i < width; ++i)
      row[i] = static_cast<float>(row[i] - sum[static_cast<size_t>(i)] / divisor);
  }
}

}  // namespace ko
