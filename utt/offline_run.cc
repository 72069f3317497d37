#include "utt/offline_run.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ko::utt {
namespace {

// What the worker and the calling thread share during one run.
struct RingState {
  std::mutex mutex;
  std::condition_variable cropReady;
  std::condition_variable slotFree;
  int64_t produced = 0;
  int64_t consumed = 0;
  bool workerDone = false;
  bool failed = false;
  bool stopping = false;  // the calling thread has left: the worker must not wait for it

  void fail() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      failed = true;
    }
    slotFree.notify_one();
    cropReady.notify_one();
  }
};

// Joins the worker on every way out of a run, releasing it first from any wait for a slot.
class WorkerJoin {
 public:
  WorkerJoin(RingState& state, std::thread worker) : state_(state), worker_(std::move(worker)) {}
  ~WorkerJoin() {
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      state_.stopping = true;
    }
    state_.slotFree.notify_one();
    worker_.join();
  }
  WorkerJoin(const WorkerJoin&) = delete;
  WorkerJoin& operator=(const WorkerJoin&) = delete;

 private:
  RingState& state_;
  std::thread worker_;
};

void renderAll(const std::vector<OfflineFrame>& plan, OfflineSteps& steps,
               std::array<std::vector<float>, kOfflineRingSlots>& ring, RingState& state) {
  for (const OfflineFrame& frame : plan) {
    const float* crop = steps.render(frame);
    if (!crop) {
      state.fail();
      break;
    }
    int64_t slot = 0;
    {
      std::unique_lock<std::mutex> lock(state.mutex);
      state.slotFree.wait(lock, [&] {
        return state.produced - state.consumed < kOfflineRingSlots || state.failed || state.stopping;
      });
      if (state.failed || state.stopping) break;
      slot = state.produced % kOfflineRingSlots;
    }
    std::vector<float>& buffer = ring[static_cast<size_t>(slot)];
    std::copy(crop, crop + buffer.size(), buffer.begin());
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      ++state.produced;
    }
    state.cropReady.notify_one();
  }
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.workerDone = true;
  }
  state.cropReady.notify_one();
}

}  // namespace

std::vector<OfflineFrame> planOfflineFrames(const float* deltas, int64_t frames,
                                            const std::vector<float>& xsTarget, int32_t nt, int32_t skip,
                                            float gain) {
  std::vector<OfflineFrame> plan;
  plan.reserve(static_cast<size_t>(std::max<int64_t>(frames - skip, 0)));
  for (int64_t t = std::max<int32_t>(skip, 0); t < frames; ++t) {
    OfflineFrame frame;
    frame.row = nt <= 1 ? 0 : static_cast<int32_t>(t % nt);
    frame.xs = xsTarget.data() + static_cast<size_t>(frame.row) * kKeypointValues;
    const float* delta = deltas + t * kKeypointValues;
    for (int i = 0; i < kKeypointValues; ++i)
      frame.kp[static_cast<size_t>(i)] = frame.xs[i] + gain * delta[i];
    plan.push_back(frame);
  }
  return plan;
}

OfflineRunner::OfflineRunner(size_t cropFloats, size_t frameBytes) : frame_(frameBytes) {
  for (std::vector<float>& slot : ring_) slot.resize(cropFloats);
}

OfflineRunResult OfflineRunner::run(const std::vector<OfflineFrame>& plan, OfflineSteps& steps,
                                    const OfflineDelivery& deliver) {
  OfflineRunResult result;
  if (plan.empty()) return result;
  RingState state;
  WorkerJoin worker(state, std::thread([&] { renderAll(plan, steps, ring_, state); }));
  for (const OfflineFrame& frame : plan) {
    int64_t slot = 0;
    {
      std::unique_lock<std::mutex> lock(state.mutex);
      state.cropReady.wait(lock, [&] { return state.produced > state.consumed || state.workerDone; });
      if (state.produced == state.consumed) break;
      slot = state.consumed % kOfflineRingSlots;
    }
    if (!steps.paste(frame, ring_[static_cast<size_t>(slot)].data(), frame_.data())) {
      state.fail();
      break;
    }
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      ++state.consumed;
    }
    state.slotFree.notify_one();
    deliver(result.delivered, frame_.data());
    ++result.delivered;
  }
  std::lock_guard<std::mutex> lock(state.mutex);
  result.failed = state.failed;
  return result;
}

}  // namespace ko::utt
