// Per-frame wall times of the stages of a render loop, summarised as mean and median.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ko::cli {

class StageClock {
 public:
  explicit StageClock(std::vector<std::string> stages);

  // Runs fn and adds its wall time to stage `stage`; returns what fn returns.
  template <class Fn>
  auto time(size_t stage, Fn&& fn) {
    const auto start = std::chrono::steady_clock::now();
    struct Record {
      StageClock& clock;
      size_t stage;
      std::chrono::steady_clock::time_point start;
      ~Record() { clock.add(stage, std::chrono::steady_clock::now() - start); }
    } record{*this, stage, start};
    return fn();
  }

  void add(size_t stage, std::chrono::steady_clock::duration elapsed);
  // "  render  40.12 ms mean  39.80 ms median" per stage, one line each.
  std::string table() const;

 private:
  std::vector<std::string> stages_;
  std::vector<std::vector<double>> milliseconds_;
};

}  // namespace ko::cli
