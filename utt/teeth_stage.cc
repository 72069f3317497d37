// The teeth stage between render and paste. An armed borrow gets every job: a rendered crop is pushed
// into it and held back until the borrow returns its teeth (when the next crop or an idle frame
// arrives), then the held crop is finished with them and handed to the paste. The first refusal or
// failure disarms the stage: from then on jobs go straight to the paste. Pipelined, the stage runs on
// the teeth thread behind a queue of 8 jobs; otherwise inline on the frame loop.
#include "utt/steady_clock_ms.h"
#include "utt/utt_pipeline.h"

namespace ko::utt {
namespace {

const char* const kNoPendingFrame =
    "flush: the pass held no pending frame while a crop was held \xe2\x80\x94 refusing to deliver it "
    "uncomposed";

}  // namespace

void UttPipeline::attachTeeth(std::shared_ptr<tessera::StreamBorrow> borrow, std::string geometry) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // A stage still using the previous borrow keeps it alive until it lets go.
  borrow_ = std::move(borrow);
  teethGeometry_ = std::move(geometry);
  teethApplied_ = 0;
  teethRefused_ = 0;
  teethText_.clear();
  teethFailed_ = false;
  teethSynth_ = tessera::TeethStats();
  totals_.pipelinedTeeth = settings_.pipelinedPaste;
  if (settings_.pipelinedPaste && !tessThread_.joinable()) tessThread_ = std::thread([this] { tessLoop(); });
}

int32_t UttPipeline::teethStats(uint64_t* applied, uint64_t* refused, std::string* text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (applied) *applied = teethApplied_;
  if (refused) *refused = teethRefused_;
  if (text) *text = teethText_;
  if (!borrow_) return 0;
  return teethFailed_ ? -1 : 1;
}

bool UttPipeline::teethSynth(double* mean, double* largest, int64_t* frames) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!borrow_ || teethSynth_.frames == 0) return false;
  if (mean) *mean = teethSynth_.synMeanSum / static_cast<double>(teethSynth_.frames);
  if (largest) *largest = teethSynth_.synMax;
  if (frames) *frames = teethSynth_.frames;
  return true;
}

bool UttPipeline::teethGeometry(std::string* text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  *text = borrow_ ? teethGeometry_ : std::string();
  return borrow_ != nullptr;
}

bool UttPipeline::routesToTeeth() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return borrow_ && !teethFailed_;
}

bool UttPipeline::enqueue(PasteJob job) {
  if (!routesToTeeth()) return enqueueRaw(std::move(job), &totals_.renderWaitMs);
  if (settings_.pipelinedPaste) return enqueueOn(teethQueue_, std::move(job), &totals_.renderWaitMs);
  return tessStage(job);
}

void UttPipeline::tessLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (std::optional<PasteJob> job = nextJob(lock, teethQueue_)) {
    lock.unlock();
    tessStage(*job);
    lock.lock();
  }
}

bool UttPipeline::tessStage(PasteJob& job) {
  std::shared_ptr<tessera::StreamBorrow> borrow;
  bool failed = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    borrow = borrow_;
    failed = teethFailed_;
  }
  if (job.generation != tess_.generation) {
    tessRestart(job.generation);
  } else if (tess_.held && tess_.borrow != borrow) {
    // A new borrow took over: the held crop is finished by the borrow it went into.
    tessDrain(*tess_.borrow);
  }
  const auto dropJob = [&] {
    const std::lock_guard<std::mutex> lock(mutex_);
    recycle(job);
    return false;
  };
  if (failed || !borrow) return dropJob();
  if (job.crop.empty()) return tessDrain(*borrow) ? enqueueRaw(std::move(job), nullptr) : dropJob();

  tessera::FrameResult result;
  bool produced = false;
  const double start = steadyMs();
  try {
    produced = borrow->push(job.crop.data(), job.kp.data(), result);
  } catch (const std::exception& failure) {
    tessFail(failure.what(), false);
    return dropJob();
  }
  timedTeeth(start, *borrow);
  if (produced && !tessEmitHeld(*borrow, result)) return dropJob();
  tess_.job = std::move(job);
  tess_.held = true;
  tess_.borrow = borrow;
  return true;
}

bool UttPipeline::tessEmitHeld(tessera::StreamBorrow& borrow, tessera::FrameResult& result) {
  if (!tess_.held) return true;
  if (result.skipped) {
    tessFail(result.reason, true);
    return false;
  }
  const double start = steadyMs();
  try {
    tessera::StreamBorrow::writeWindowDelta(tess_.job.crop.data(), session_.manifest.crop, result,
                                            borrow.pass().stamp());
  } catch (const std::exception& failure) {
    tessFail(failure.what(), false);
    return false;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    totals_.teethMs += steadyMs() - start;
    ++teethApplied_;
    teethSynth_ = borrow.pass().stats();
  }
  tessPassHeld();
  return true;
}

void UttPipeline::tessPassHeld() {
  tess_.held = false;
  tess_.borrow.reset();
  enqueueRaw(std::move(tess_.job), nullptr);
  tess_.job = PasteJob();
}

bool UttPipeline::tessDrain(tessera::StreamBorrow& borrow) {
  if (!tess_.held) return true;
  tessera::FrameResult result;
  bool produced = false;
  try {
    produced = borrow.flush(result);
  } catch (const std::exception& failure) {
    tessFail(failure.what(), false);
    return false;
  }
  if (produced) return tessEmitHeld(borrow, result);
  if (!settings_.pipelinedPaste) {
    tessFail(kNoPendingFrame, false);
    return false;
  }
  // Pipelined, the held crop goes on as it is.
  tessPassHeld();
  return true;
}

void UttPipeline::tessRestart(uint64_t generation) {
  if (generation == tess_.generation) return;
  tess_.generation = generation;
  tessDiscardHeld();
  std::shared_ptr<tessera::StreamBorrow> borrow;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    borrow = borrow_;
  }
  if (!borrow) return;
  try {
    tessera::FrameResult dropped;
    borrow->flush(dropped);
  } catch (const std::exception&) {
    // What an interrupted stream held is thrown away, failure included.
  }
}

void UttPipeline::tessDiscardHeld() {
  tess_.held = false;
  tess_.borrow.reset();
  const std::lock_guard<std::mutex> lock(mutex_);
  recycle(tess_.job);
}

void UttPipeline::tessFail(const std::string& text, bool refusal) {
  tessDiscardHeld();
  const std::lock_guard<std::mutex> lock(mutex_);
  if (refusal) ++teethRefused_;
  teethText_ = text;
  teethFailed_ = true;
}

void UttPipeline::timedTeeth(double start, const tessera::StreamBorrow& pushedInto) {
  const double took = steadyMs() - start;
  const std::lock_guard<std::mutex> lock(mutex_);
  totals_.teethMs += took;
  ++totals_.teethJobs;
  teethSynth_ = pushedInto.pass().stats();
}

}  // namespace ko::utt
