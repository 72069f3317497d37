// Wall time spent inside ONNX Runtime, kept apart so that what a stream costs on its own can be told
// from what its networks cost.
#pragma once

#include <chrono>
#include <cstdint>

namespace ko {

struct NetworkTime {
  int64_t runs = 0;
  double seconds = 0;
};

// Adds the lifetime of the scope to a NetworkTime as one run.
class RunTimer {
 public:
  explicit RunTimer(NetworkTime& total) : total_(total), start_(std::chrono::steady_clock::now()) {}
  ~RunTimer() {
    total_.runs += 1;
    total_.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  RunTimer(const RunTimer&) = delete;
  RunTimer& operator=(const RunTimer&) = delete;

 private:
  NetworkTime& total_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace ko
