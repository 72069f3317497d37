#include "tools/ko/stage_clock.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace ko::cli {
namespace {

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  return values[middle];
}

double mean(const std::vector<double>& values) {
  return values.empty()
             ? 0.0
             : std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

}  // namespace

StageClock::StageClock(std::vector<std::string> stages)
    : stages_(std::move(stages)), milliseconds_(stages_.size()) {}

void StageClock::add(size_t stage, std::chrono::steady_clock::duration elapsed) {
  milliseconds_[stage].push_back(std::chrono::duration<double, std::milli>(elapsed).count());
}

std::string StageClock::table() const {
  std::string text;
  for (size_t s = 0; s < stages_.size(); ++s) {
    char line[128];
    std::snprintf(line, sizeof line, "  %-8s %8.2f ms mean %8.2f ms median\n", stages_[s].c_str(),
                  mean(milliseconds_[s]), median(milliseconds_[s]));
    text += line;
  }
  return text;
}

}  // namespace ko::cli
