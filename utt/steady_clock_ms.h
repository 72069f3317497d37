// Milliseconds of the steady clock: push times, latencies and stage times all use this one clock.
#pragma once

#include <chrono>

namespace ko::utt {

inline double steadyMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A 2 ms step: the longest any pipeline wait sleeps before it re-checks shutdown and the generation.
inline constexpr std::chrono::milliseconds kPollStep{2};

}  // namespace ko::utt
