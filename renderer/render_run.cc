// The per-frame run: fill the bound buffers, run the per-frame session once. With the source cone split
// off, a worker thread prepares the next source frame's boundary tensor in a two-slot ring while the
// caller renders from the other slot.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "renderer/host_keypoints.h"
#include "renderer/renderer_impl.h"
#include "simd/half.h"

namespace ko {
namespace {

constexpr size_t kKpFloats = 3 * kHostKpRows;

void copySlot(std::vector<float>& buffer, size_t perFrame, size_t from, size_t to) {
  std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(from * perFrame), perFrame,
              buffer.begin() + static_cast<std::ptrdiff_t>(to * perFrame));
}

void widen(const uint16_t* halves, std::vector<float>& buffer, size_t perFrame, size_t slot) {
  halfToFloat(halves, buffer.data() + slot * perFrame, perFrame);
}

}  // namespace

const float* Renderer::Impl::render(const int32_t* si, const float* kpSourceIn, const float* kpDrivingIn,
                                    int n) {
  if (n < 1 || n > batch) throw std::runtime_error("render: bad n");
  if (prepSession) {
    const int slot = acquire(si[0]);
    binding->BindInput(boundaryName.c_str(), ring[static_cast<size_t>(slot)]->tensor);
    widen(identity->pooled64(si[0]), pooled, static_cast<size_t>(pooledPerFrame), 0);
    std::copy_n(kpSourceIn, kKpFloats, kpSource.begin());
    std::copy_n(kpDrivingIn, kKpFloats, kpDriving.begin());
    deliverLips(kpDrivingIn, 0);
    const int32_t next = prediction.next(si[0], identity->NT());
    std::lock_guard<std::mutex> lock(mutex);
    schedulePrefetchL(next);
  } else {
    fillUnsplit(si, kpSourceIn, kpDrivingIn, n);
  }
  run();
  return rgb.data();
}

void Renderer::Impl::fillUnsplit(const int32_t* si, const float* kpSourceIn, const float* kpDrivingIn,
                                 int n) {
  std::vector<float>& priorBuffer = featSynth ? fsRed : prior;
  const size_t priorFloats = static_cast<size_t>(featSynth ? fsRedPerFrame : priorPerFrame);
  const size_t pooledFloats = static_cast<size_t>(pooledPerFrame);
  const size_t lipFloats = static_cast<size_t>(crop) * static_cast<size_t>(crop);
  const size_t used = static_cast<size_t>(n);
  for (size_t b = 0; b < static_cast<size_t>(batch); ++b) {
    if (b < used) {
      widen(identity->pooled64(si[b]), pooled, pooledFloats, b);
      widen(featSynth ? identity->fsRed(si[b]) : identity->P(si[b]), priorBuffer, priorFloats, b);
      std::copy_n(kpSourceIn + b * kKpFloats, kKpFloats,
                  kpSource.begin() + static_cast<std::ptrdiff_t>(b * kKpFloats));
      std::copy_n(kpDrivingIn + b * kKpFloats, kKpFloats,
                  kpDriving.begin() + static_cast<std::ptrdiff_t>(b * kKpFloats));
      deliverLips(kpDrivingIn + b * kKpFloats, b);
    } else {
      copySlot(pooled, pooledFloats, used - 1, b);
      copySlot(priorBuffer, priorFloats, used - 1, b);
      copySlot(kpSource, kKpFloats, used - 1, b);
      copySlot(kpDriving, kKpFloats, used - 1, b);
      if (lipBound) copySlot(lipDelivery, lipFloats, used - 1, b);
    }
  }
}

void Renderer::Impl::deliverLips(const float* kpDrivingRow, size_t slot) {
  if (!lipBound) return;
  const size_t lipFloats = static_cast<size_t>(crop) * static_cast<size_t>(crop);
  lipContour->contourF32Canvas(kpDrivingRow, lipDelivery.data() + slot * lipFloats);
}

void Renderer::Impl::run() {
  const auto start = std::chrono::steady_clock::now();
  session->Run(runOptions, *binding);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::lock_guard<std::mutex> lock(mutex);
  runMs += ms;
  ++runCount;
}

void Renderer::Impl::schedulePrefetchL(int32_t next) {
  if (pendingSi >= 0 || !workerError.empty()) return;
  for (const auto& slot : ring) {
    if (slot->si == next) return;
  }
  for (size_t i = 0; i < ring.size(); ++i) {
    if (static_cast<int32_t>(i) == inUseSlot) continue;
    ring[i]->si = -1;
    pendingSi = next;
    pendingSlot = static_cast<int32_t>(i);
    cv.notify_one();
    return;
  }
}

int Renderer::Impl::acquire(int32_t si) {
  std::unique_lock<std::mutex> lock(mutex);
  inUseSlot = -1;
  bool missed = false;  // a frame counts once: as the miss that prepared it, not also as a hit
  while (workerError.empty()) {
    for (size_t i = 0; i < ring.size(); ++i) {
      if (ring[i]->si != si) continue;
      if (!missed) ++hits;
      inUseSlot = static_cast<int32_t>(i);
      return inUseSlot;
    }
    if (pendingSi < 0) {
      int victim = -1;
      for (size_t i = 0; i < ring.size() && victim < 0; ++i) {
        if (static_cast<int32_t>(i) != inUseSlot) victim = static_cast<int>(i);
      }
      if (victim < 0) throw std::runtime_error("Renderer: source-cone ring exhausted");
      ++misses;
      missed = true;
      ring[static_cast<size_t>(victim)]->si = -1;
      runPrepL(si, victim, lock);
      continue;
    }
    cv.wait(lock);
  }
  throw std::runtime_error("Renderer: the hoisted source cone failed in ORT — " + workerError);
}

void Renderer::Impl::runPrepL(int32_t si, int slot, std::unique_lock<std::mutex>& lock) {
  RingSlot& target = *ring[static_cast<size_t>(slot)];
  lock.unlock();
  std::string failure;
  try {
    widen(identity->P(si), prior, static_cast<size_t>(priorPerFrame), 0);
    prepBinding->BindOutput(boundaryName.c_str(), target.tensor);
    prepSession->Run(Ort::RunOptions{}, *prepBinding);
  } catch (const std::exception& error) {
    failure = error.what();
    if (failure.empty()) failure = "unknown failure";
  }
  lock.lock();
  if (failure.empty()) {
    target.si = si;
  } else if (workerError.empty()) {
    workerError = failure;
  }
}

void Renderer::Impl::workerLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stop) {
    while (pendingSi >= 0) {
      runPrepL(pendingSi, pendingSlot, lock);
      pendingSi = -1;
      pendingSlot = -1;
      cv.notify_all();
      if (stop) return;
    }
    cv.wait(lock);
  }
}

void Renderer::Impl::startWorker() {
  worker = std::thread([this] { workerLoop(); });
}

void Renderer::Impl::stopWorker() {
  if (!worker.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  cv.notify_all();
  worker.join();
}

}  // namespace ko
