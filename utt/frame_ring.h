// The finished frames waiting for the host: a fixed ring of 8 full driver frames with what each one
// is. The ring takes no lock; the pipeline's main mutex guards it. A slot between the write index and
// the read index + 8 is free, so a paster fills it unlocked while the host reads older slots.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "utt/paste_job.h"

namespace ko::utt {

struct FrameInfo {
  uint64_t seq = 0;  // frames produced since creation, from 0
  int32_t kind = kIdle;
  int32_t row = 0;
  int32_t ordinal = -1;
};

struct RingFrame {
  std::vector<uint8_t> pixels;  // W x H x 3
  FrameInfo info;
  Keypoints kp{};  // zeros for idle frames
};

class FrameRing {
 public:
  static constexpr uint64_t kSlots = 8;

  uint64_t fill() const { return write_ - read_; }
  bool full() const { return fill() >= kSlots; }
  // The slot the next frame goes into; only valid while the ring is not full.
  RingFrame& nextSlot() { return slots_[write_ % kSlots]; }
  // Publishes the next slot. Every frame produced gets the next sequence number, and nothing but a
  // publish moves the write index, so the two count together.
  void publish(int32_t kind, int32_t row, int32_t ordinal, const Keypoints& kp) {
    RingFrame& slot = nextSlot();
    slot.info = {write_, kind, row, ordinal};
    slot.kp = kp;
    ++write_;
  }
  const RingFrame& front() const { return slots_[read_ % kSlots]; }
  void pop() { ++read_; }
  void clear() { read_ = write_; }

 private:
  std::array<RingFrame, kSlots> slots_;
  uint64_t read_ = 0;
  uint64_t write_ = 0;
};

}  // namespace ko::utt
