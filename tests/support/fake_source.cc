#include "tests/support/fake_source.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace ko::test {

void FakeSourceControl::release() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    open = true;
  }
  released.notify_all();
}

namespace {

template <class Ready>
void pollUntil(Ready ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("fake source: waited 30 s in vain");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class FakeSource final : public driver::Source {
 public:
  FakeSource(int32_t nt, size_t bytes, std::shared_ptr<FakeSourceControl> control)
      : nt_(nt), bytes_(bytes), control_(std::move(control)) {}

  int32_t NT() const override { return nt_; }
  int32_t W() const override { return 1; }
  int32_t H() const override { return 1; }
  size_t frameBytes() const override { return bytes_; }
  std::string name() const override { return "fake"; }
  size_t residentBytes() const override { return 7; }

  bool next(uint8_t* dst) override {
    if (pos_ >= nt_ || pos_ == control_->endAfter) return false;
    if (pos_ == control_->holdFrame) hold();
    if (pos_ == control_->failAt) throw std::runtime_error("boom at " + std::to_string(pos_));
    const std::vector<uint8_t> frame = fakeFrame(pos_, bytes_);
    std::memcpy(dst, frame.data(), bytes_);
    ++pos_;
    ++control_->decodes;
    return true;
  }
  void rewind() override {
    pos_ = 0;
    ++control_->rewinds;
  }
  void seek(int32_t frame) override {
    if (frame < 0 || frame >= nt_) throw std::runtime_error("seek outside the member");
    pos_ = frame;
    ++control_->seeks;
  }

 private:
  void hold() {
    std::unique_lock<std::mutex> lock(control_->mutex);
    control_->holding = true;
    control_->released.wait(lock, [&] { return control_->open; });
    control_->holding = false;
  }

  int32_t nt_;
  size_t bytes_;
  int32_t pos_ = 0;
  std::shared_ptr<FakeSourceControl> control_;
};

}  // namespace

void FakeSourceControl::waitUntilHolding() const {
  pollUntil([&] { return holding.load(); });
}

void FakeSourceControl::waitForDecodes(int count) const {
  pollUntil([&] { return decodes.load() >= count; });
}

std::vector<uint8_t> fakeFrame(int32_t index, size_t bytes) {
  std::vector<uint8_t> frame(bytes);
  for (size_t j = 0; j < bytes; ++j)
    frame[j] = static_cast<uint8_t>((static_cast<size_t>(index) * 31 + j) & 0xFF);
  std::memcpy(frame.data(), &index, std::min(bytes, sizeof index));
  return frame;
}

std::unique_ptr<driver::Source> fakeSource(int32_t NT, size_t frameBytes,
                                           std::shared_ptr<FakeSourceControl> control) {
  return std::make_unique<FakeSource>(NT, frameBytes, std::move(control));
}

}  // namespace ko::test
