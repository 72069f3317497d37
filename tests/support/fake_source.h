// An in-memory frame source for cursor tests: frame i is a recognisable byte pattern, and the test
// can make it fail, end early, or hold a decode until released.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "driver/source.h"

namespace ko::test {

// Shared between the test and the source the cursor owns.
struct FakeSourceControl {
  std::atomic<int> decodes{0};  // frames written by next()
  std::atomic<int> rewinds{0};
  std::atomic<int> seeks{0};
  std::atomic<int> failAt{-1};     // next() of this frame throws "boom at <frame>"
  std::atomic<int> endAfter{-1};   // next() returns false once this many frames were delivered since a rewind
  std::atomic<int> holdFrame{-1};  // next() of this frame waits until release()
  std::atomic<bool> holding{false};

  void release();
  void waitUntilHolding() const;
  // Waits until at least `count` frames were decoded.
  void waitForDecodes(int count) const;

  std::mutex mutex;
  std::condition_variable released;
  bool open = false;
};

// Byte j of frame i: its first four bytes are i (little endian), the rest (i * 31 + j) mod 256.
std::vector<uint8_t> fakeFrame(int32_t index, size_t bytes);

std::unique_ptr<driver::Source> fakeSource(int32_t NT, size_t frameBytes,
                                           std::shared_ptr<FakeSourceControl> control);

}  // namespace ko::test
