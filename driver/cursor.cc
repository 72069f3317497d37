#include "driver/cursor.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ko {

// Shared by the consumer calls and the look-ahead thread. Sequence number s lives in slot
// s % slots; [readSeq, writeSeq) are decoded frames not yet handed out, and the slots below readSeq
// keep the history. Lock order: callMutex before m, never the reverse; the thread takes only m and
// never holds it while the source works.
struct DriverCursor::Impl {
  Impl(std::unique_ptr<driver::Source> source, int32_t aheadRequest, int32_t histRequest);

  void run();
  void fail(const std::string& text);
  void seekLocked(int32_t t);
  // Waits for the next decoded frame and hands it out; returns its slot.
  size_t take(std::unique_lock<std::mutex>& lock, bool mutableTake);
  int32_t frameAfterRead() const;
  uint64_t oldestIntactSeq() const;
  void checkHealthy() const;
  bool decodeOne(std::unique_lock<std::mutex>& lock);

  std::unique_ptr<driver::Source> src;
  const int32_t NT, W, H;
  const size_t frameBytes;
  const int32_t ahead, hist, slots;
  std::vector<std::vector<uint8_t>> ring;
  std::vector<int32_t> slotFrame;

  mutable std::mutex m;
  std::mutex callMutex;
  std::condition_variable cvProducer;
  std::condition_variable cvConsumer;
  uint64_t readSeq = 0;
  uint64_t writeSeq = 0;
  uint64_t mutFloor = 0;
  bool busy = false;
  int32_t nextFrame = 0;
  int32_t position = 0;
  int32_t srcPos = 0;  // the look-ahead thread's alone
  int32_t pendingSeek = -1;
  uint64_t seekGen = 0;
  bool stop = false;
  std::string err;
  uint64_t seeks = 0;
  std::thread thread;
};

DriverCursor::Impl::Impl(std::unique_ptr<driver::Source> source, int32_t aheadRequest, int32_t histRequest)
    : src(std::move(source)),
      NT(src->NT()),
      W(src->W()),
      H(src->H()),
      frameBytes(src->frameBytes()),
      ahead(std::max(1, aheadRequest)),
      hist(std::max(0, histRequest)),
      slots(ahead + hist + 1),
      ring(static_cast<size_t>(slots), std::vector<uint8_t>(frameBytes, 0)),
      slotFrame(static_cast<size_t>(slots), -1) {}

void DriverCursor::Impl::fail(const std::string& text) {
  {
    const std::lock_guard<std::mutex> lock(m);
    if (err.empty()) err = text;
  }
  cvConsumer.notify_all();
}

void DriverCursor::Impl::checkHealthy() const {
  if (!err.empty()) throw std::runtime_error(err);
}

// Decodes the frame at nextFrame into the next free slot with m released; publishes it unless a
// hard seek happened meanwhile. Returns false when the thread must end (the failure is recorded).
bool DriverCursor::Impl::decodeOne(std::unique_lock<std::mutex>& lock) {
  const uint64_t gen = seekGen;
  const int32_t frame = nextFrame;
  const size_t slot = static_cast<size_t>(writeSeq % static_cast<uint64_t>(slots));
  busy = true;
  lock.unlock();
  try {
    // Played through: the loop of the driver starts over.
    if (srcPos == NT) {
      src->rewind();
      srcPos = 0;
    }
    if (!src->next(ring[slot].data())) {
      fail("ko_driver: " + src->name() + " ended after " + std::to_string(srcPos) +
           " frames, the manifest says NT=" + std::to_string(NT) +
           " — a short driver is a session that stops part way through the loop, refusing");
      lock.lock();
      busy = false;
      return false;
    }
  } catch (const std::exception& e) {
    fail(std::string("ko_driver: ") + e.what());
    lock.lock();
    busy = false;
    return false;
  } catch (...) {
    fail("ko_driver: unknown failure while decoding");
    lock.lock();
    busy = false;
    return false;
  }
  ++srcPos;
  lock.lock();
  busy = false;
  if (seekGen == gen) {
    slotFrame[slot] = frame;
    ++writeSeq;
    nextFrame = (frame + 1) % NT;
    cvConsumer.notify_all();
  }
  return true;
}

void DriverCursor::Impl::run() {
  std::unique_lock<std::mutex> lock(m);
  for (;;) {
    cvProducer.wait(
        lock, [&] { return stop || pendingSeek >= 0 || writeSeq - readSeq < static_cast<uint64_t>(ahead); });
    if (stop) return;
    if (pendingSeek >= 0) {
      nextFrame = pendingSeek;
      pendingSeek = -1;
      const int32_t target = nextFrame;
      lock.unlock();
      try {
        src->seek(target);
        srcPos = target;
      } catch (const std::exception& e) {
        fail(std::string("ko_driver: seek failed: ") + e.what());
        return;
      } catch (...) {
        fail("ko_driver: seek failed: unknown failure");
        return;
      }
      lock.lock();
      continue;
    }
    if (!decodeOne(lock)) return;
  }
}

// The frame the next take would yield.
int32_t DriverCursor::Impl::frameAfterRead() const {
  if (readSeq < writeSeq) return slotFrame[static_cast<size_t>(readSeq % static_cast<uint64_t>(slots))];
  return pendingSeek >= 0 ? pendingSeek : nextFrame;
}

// The lowest sequence number whose slot still holds its frame and may be served again.
uint64_t DriverCursor::Impl::oldestIntactSeq() const {
  const uint64_t ringSize = static_cast<uint64_t>(slots);
  uint64_t lowest = writeSeq < ringSize ? 0 : writeSeq - ringSize + (busy ? 1 : 0);
  lowest = std::max(lowest, mutFloor);
  const uint64_t histDepth = static_cast<uint64_t>(hist);
  if (histDepth + 1 < readSeq) lowest = std::max(lowest, readSeq - 1 - histDepth);
  return lowest;
}

void DriverCursor::Impl::seekLocked(int32_t t) {
  if (t < 0 || t >= NT) {
    throw std::runtime_error("ko_driver: seek(" + std::to_string(t) + ") outside [0," + std::to_string(NT) +
                             ")");
  }
  const std::lock_guard<std::mutex> lock(m);
  checkHealthy();
  position = t;
  if (frameAfterRead() == t) return;
  if (pendingSeek < 0) {
    for (uint64_t s = oldestIntactSeq(); s < writeSeq; ++s) {
      if (slotFrame[static_cast<size_t>(s % static_cast<uint64_t>(slots))] == t) {
        readSeq = s;
        cvProducer.notify_one();
        return;
      }
    }
    // The thread is about to decode (or is decoding) exactly t: drop what is buffered and wait.
    if (nextFrame == t) {
      readSeq = writeSeq;
      cvProducer.notify_one();
      return;
    }
  }
  ++seekGen;
  ++seeks;
  readSeq = writeSeq;
  pendingSeek = t;
  cvProducer.notify_one();
}

size_t DriverCursor::Impl::take(std::unique_lock<std::mutex>& lock, bool mutableTake) {
  cvConsumer.wait(lock, [&] { return !err.empty() || readSeq < writeSeq; });
  checkHealthy();
  const uint64_t s = readSeq;
  readSeq = s + 1;
  if (mutableTake) mutFloor = s + 1;
  cvProducer.notify_one();
  const size_t slot = static_cast<size_t>(s % static_cast<uint64_t>(slots));
  position = (slotFrame[slot] + 1) % NT;
  return slot;
}

DriverCursor::DriverCursor(std::unique_ptr<driver::Source> src, int32_t ahead, int32_t hist) {
  if (!src) throw std::invalid_argument("ko_driver: a cursor needs a source");
  NT_ = src->NT();
  W_ = src->W();
  H_ = src->H();
  frameBytes_ = src->frameBytes();
  name_ = src->name();
  impl_ = std::make_unique<Impl>(std::move(src), ahead, hist);
  impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

DriverCursor::~DriverCursor() {
  {
    const std::lock_guard<std::mutex> lock(impl_->m);
    impl_->stop = true;
  }
  impl_->cvProducer.notify_all();
  impl_->cvConsumer.notify_all();
  impl_->thread.join();
}

std::unique_ptr<DriverCursor> DriverCursor::over(std::unique_ptr<driver::Source> src, int32_t ahead,
                                                 int32_t hist) {
  return std::make_unique<DriverCursor>(std::move(src), ahead, hist);
}

namespace {

void checkYielded(int32_t index, int32_t si) {
  if (index != si) {
    throw std::runtime_error("ko_driver: cursor yielded frame " + std::to_string(index) +
                             " for si=" + std::to_string(si));
  }
}

}  // namespace

void DriverCursor::seek(int32_t frame) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  impl_->seekLocked(frame);
}

DriverCursor::Taken DriverCursor::takeAt(std::optional<int32_t> si, bool mutableTake) {
  int32_t target = 0;
  if (si) {
    target = *si;
  } else {
    const std::lock_guard<std::mutex> lock(impl_->m);
    target = impl_->position;
  }
  impl_->seekLocked(target);
  std::unique_lock<std::mutex> lock(impl_->m);
  const size_t slot = impl_->take(lock, mutableTake);
  const int32_t index = impl_->slotFrame[slot];
  if (si) checkYielded(index, *si);
  return {impl_->ring[slot].data(), index};
}

int32_t DriverCursor::pull(uint8_t* dst) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  const Taken taken = takeAt(std::nullopt, false);
  std::memcpy(dst, taken.bytes, frameBytes_);
  return taken.index;
}

const uint8_t* DriverCursor::pull(int32_t* index) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  const Taken taken = takeAt(std::nullopt, false);
  if (index) *index = taken.index;
  return taken.bytes;
}

uint8_t* DriverCursor::pullMut(int32_t* index) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  const Taken taken = takeAt(std::nullopt, true);
  if (index) *index = taken.index;
  return taken.bytes;
}

int32_t DriverCursor::pullAt(int32_t si, uint8_t* dst) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  const Taken taken = takeAt(si, false);
  std::memcpy(dst, taken.bytes, frameBytes_);
  return taken.index;
}

const uint8_t* DriverCursor::pullAt(int32_t si, int32_t* index) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  const Taken taken = takeAt(si, false);
  if (index) *index = taken.index;
  return taken.bytes;
}

uint8_t* DriverCursor::pullMutAt(int32_t si, int32_t* index) {
  const std::lock_guard<std::mutex> call(impl_->callMutex);
  const Taken taken = takeAt(si, true);
  if (index) *index = taken.index;
  return taken.bytes;
}

int32_t DriverCursor::position() const {
  const std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->position;
}

uint64_t DriverCursor::seeks() const {
  const std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->seeks;
}

size_t DriverCursor::residentBytes() const {
  return static_cast<size_t>(impl_->slots) * frameBytes_ + impl_->src->residentBytes();
}

}  // namespace ko
