// The hand-off to the paste stage: a job is pasted into the next free ring slot, inline on the frame
// loop or on the paste thread behind a queue of 8 jobs (the teeth stage's queue waits the same way). The slot
// is filled with no lock held; a job whose generation went stale on the way is dropped.
#include <algorithm>

#include "utt/steady_clock_ms.h"
#include "utt/utt_pipeline.h"

namespace ko::utt {
namespace {

constexpr size_t kQueueJobs = 8;
// Crops in flight are bounded by the queues and the ring; keeping this many spare spares their
// allocation on every frame.
constexpr size_t kSpareCrops = 2 * kQueueJobs + FrameRing::kSlots;

}  // namespace

PasteJob UttPipeline::makeJob(const float* crop, int32_t kind, int32_t row, int32_t ordinal,
                              const Keypoints& kp, double stampMs) {
  PasteJob job;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!spareCrops_.empty()) {
      job.crop = std::move(spareCrops_.back());
      spareCrops_.pop_back();
    }
  }
  job.crop.assign(crop, crop + cropFloats_);
  job.kind = kind;
  job.row = row;
  job.ordinal = ordinal;
  job.kp = kp;
  job.generation = loop_.generation;
  job.stampMs = stampMs;
  return job;
}

void UttPipeline::recycle(PasteJob& job) {
  if (job.crop.capacity() == 0 || spareCrops_.size() >= kSpareCrops) return;
  spareCrops_.push_back(std::move(job.crop));
}

bool UttPipeline::enqueueRaw(PasteJob job, double* waitedMs) {
  if (settings_.pipelinedPaste) return enqueueOn(pasteQueue_, std::move(job), waitedMs);
  const bool pasted = pasteInto(job);
  const std::lock_guard<std::mutex> lock(mutex_);
  recycle(job);
  return pasted;
}

bool UttPipeline::enqueueOn(StageQueue& queue, PasteJob job, double* waitedMs) {
  const double start = steadyMs();
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue.jobs.size() >= kQueueJobs && !shutdown_ && !stale(job.generation))
    queue.space.wait_for(lock, kPollStep);
  if (waitedMs) *waitedMs += steadyMs() - start;
  if (shutdown_ || stale(job.generation)) {
    recycle(job);
    return false;
  }
  queue.jobs.push_back(std::move(job));
  queue.ready.notify_one();
  return true;
}

bool UttPipeline::pasteInto(PasteJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (ring_.full() && !shutdown_ && !stale(job.generation)) cv_.wait_for(lock, kPollStep);
  if (shutdown_ || stale(job.generation)) return false;
  RingFrame& slot = ring_.nextSlot();
  lock.unlock();
  try {
    slot.pixels.resize(frameBytes_);
    session_.driver.pullAt(job.row, slot.pixels.data());
    if (job.crop.empty()) {
      // Keeps a movie prior decoding in step with the idle loop.
      session_.identity.walkP(job.row);
    } else {
      session_.paste.composite(job.crop.data(), 255.0f, session_.identity.M(job.row), slot.pixels.data(),
                               session_.manifest.W, session_.manifest.H);
    }
  } catch (const std::exception& failure) {
    noteRenderFail("paste", failure.what(), false);
    return false;
  }
  lock.lock();
  if (shutdown_ || stale(job.generation)) return false;
  ring_.publish(job.kind, job.row, job.ordinal, job.kind == kIdle ? Keypoints{} : job.kp);
  recordDelivery(job);
  return true;
}

void UttPipeline::recordDelivery(const PasteJob& job) {
  if (job.kind != kSpeech) return;
  const double now = steadyMs();
  if (job.stampMs > 0) {
    totals_.deliverLatencyMs += now - job.stampMs;
    ++totals_.timedSpeech;
  }
  if (job.ordinal == 0) {
    ++stats_.utterances;
    stats_.firstFrameMs = now - utteranceStartMs_;
  }
}

std::optional<PasteJob> UttPipeline::nextJob(std::unique_lock<std::mutex>& lock, StageQueue& queue) {
  for (;;) {
    queue.ready.wait(lock, [&] { return queue.stop || !queue.jobs.empty(); });
    if (queue.stop) return std::nullopt;
    PasteJob job = std::move(queue.jobs.front());
    queue.jobs.pop_front();
    queue.space.notify_all();
    if (!stale(job.generation)) return job;
    recycle(job);
  }
}

void UttPipeline::pasteLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (std::optional<PasteJob> next = nextJob(lock, pasteQueue_)) {
    PasteJob& job = *next;
    ++pastesInFlight_;
    lock.unlock();
    const double start = steadyMs();
    pasteInto(job);
    const double took = steadyMs() - start;
    lock.lock();
    --pastesInFlight_;
    ++totals_.pasteJobs;
    totals_.pasteMs += took;
    recycle(job);
    cv_.notify_all();
  }
}

}  // namespace ko::utt
