// Byte buffers kept between a kernel's runs, so a run reuses memory that is already mapped instead
// of faulting in fresh pages every time. ONNX Runtime may run one session from several threads at
// once, so each run borrows a buffer of its own and puts it back when done: runs never share one,
// and the shelf holds at most as many buffers as runs ever overlapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace ko {

class ScratchShelf {
 public:
  // A borrowed buffer of at least the asked size; back on the shelf when the loan ends.
  class Loan {
   public:
    Loan(ScratchShelf& shelf, std::vector<uint8_t> buffer) : shelf_(shelf), buffer_(std::move(buffer)) {}
    Loan(const Loan&) = delete;
    Loan& operator=(const Loan&) = delete;
    ~Loan() { shelf_.putBack(std::move(buffer_)); }

    uint8_t* data() { return buffer_.data(); }

   private:
    ScratchShelf& shelf_;
    std::vector<uint8_t> buffer_;
  };

  // Grows a shelved buffer when it is too small; a new buffer only when all are lent.
  Loan borrow(size_t bytes) {
    std::vector<uint8_t> buffer;
    {
      const std::lock_guard lock(mutex_);
      // Room for every buffer to come back, so putting one back never allocates.
      shelved_.reserve(shelved_.size() + lent_ + 1);
      if (!shelved_.empty()) {
        buffer = std::move(shelved_.back());
        shelved_.pop_back();
      }
      ++lent_;
    }
    try {
      if (buffer.size() < bytes) buffer.resize(bytes);
    } catch (...) {
      putBack(std::move(buffer));
      throw;
    }
    return Loan(*this, std::move(buffer));
  }

 private:
  void putBack(std::vector<uint8_t> buffer) noexcept {
    const std::lock_guard lock(mutex_);
    shelved_.push_back(std::move(buffer));
    --lent_;
  }

  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> shelved_;
  size_t lent_ = 0;
};

}  // namespace ko
