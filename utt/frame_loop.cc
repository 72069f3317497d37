// The frame loop: one pass takes the host's audio, collects the model's frames, schedules the next
// model request and produces at most one step of frames: speech, the end of an utterance, a blend
// frame or an idle frame.
#include <algorithm>

#include "utt/steady_clock_ms.h"
#include "utt/utt_pipeline.h"

namespace ko::utt {
namespace {

constexpr size_t kBufferedEnough = 7;  // frames in hand that make polling the model pointless
constexpr uint64_t kHybridHighCount = 23;
constexpr uint64_t kHybridLowCount = 11;

}  // namespace

void UttPipeline::run() {
  while (!shutdown_) {
    Pass pass = beginPass();
    if (pass.generation != loop_.generation) {
      handleInterrupt(pass.generation);
      continue;
    }
    collectJob();
    takeAudio(pass);
    detectEnd(pass);
    chooseEager(pass);
    dispatch(pass);
    if (produce(pass)) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, kPollStep);
  }
}

UttPipeline::Pass UttPipeline::beginPass() {
  Pass pass;
  const std::lock_guard<std::mutex> lock(mutex_);
  // Audio that arrives during a blend, or after the end of the utterance being spoken, waits in the
  // input for the next utterance rather than reach a model that has finished.
  const bool closing = loop_.inUtterance && loop_.endSeen;
  if (loop_.state != 3 && !closing) {
    pass.audio.swap(input_);
    pass.end = endFlag_;
    endFlag_ = false;
  }
  pass.generation = generation_;
  pass.ringFill = ring_.fill();
  pass.pasteFill = pasteQueue_.jobs.size() + teethQueue_.jobs.size() + static_cast<uint64_t>(pastesInFlight_);
  pass.model = model_.get();
  pass.chunk = chunkRenderer_.get();
  pass.lastPushMs = lastPushMs_;
  return pass;
}

void UttPipeline::collectJob() {
  if (!loop_.requestOutstanding) return;
  std::optional<ModelResponse> response = dispatcher_->take();
  if (!response) return;
  loop_.requestOutstanding = false;
  if (response->generation != loop_.generation) return;
  if (!response->failure.empty()) {
    // The model cannot go on with this utterance: speak what it delivered and close it.
    noteRenderFail("audio model", response->failure, false);
    loop_.modelTotal = loop_.framesPulled;
    loop_.modelAvailable = 0;
    loop_.endSeen = loop_.endSent = true;
    return;
  }
  for (const ModelFrame& frame : response->frames) loop_.buffer.push_back(frame);
  loop_.framesPulled += static_cast<int64_t>(response->frames.size());
  loop_.modelAvailable = response->available;
  loop_.modelTotal = response->total;
}

void UttPipeline::takeAudio(Pass& pass) {
  if (pass.audio.empty()) return;
  if (pass.model == nullptr) {
    const std::lock_guard<std::mutex> lock(mutex_);
    firstPushSet_ = false;
    return;
  }
  if (!loop_.inUtterance) openUtterance();
  loop_.pendingAudio.insert(loop_.pendingAudio.end(), pass.audio.begin(), pass.audio.end());
}

void UttPipeline::openUtterance() {
  loop_.inUtterance = true;
  loop_.endSeen = loop_.endSent = loop_.speechRendered = loop_.waitingForBatch = false;
  loop_.firstRequest = true;
  loop_.buffer.clear();
  loop_.modelTotal = -1;
  loop_.modelAvailable = 0;
  loop_.framesPulled = 0;
  loop_.ordinal = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    utteranceStartMs_ = firstPushSet_ ? firstPushMs_ : steadyMs();
  }
  if (loop_.state == 0) setState(1);
}

void UttPipeline::detectEnd(const Pass& pass) {
  if (!loop_.inUtterance || loop_.endSeen) return;
  const bool gapReached =
      settings_.endGapMs && steadyMs() - pass.lastPushMs >= static_cast<double>(*settings_.endGapMs);
  loop_.endSeen = pass.end || gapReached;
}

void UttPipeline::chooseEager(const Pass& pass) {
  if (!settings_.hybrid) return;
  const uint64_t inHand = static_cast<uint64_t>(loop_.modelAvailable) + loop_.buffer.size() + pass.ringFill;
  if (loop_.eager == kHybridLowEager && inHand > kHybridHighCount) loop_.eager = kHybridHighEager;
  if (loop_.eager == kHybridHighEager && inHand <= kHybridLowCount) loop_.eager = kHybridLowEager;
}

void UttPipeline::dispatch(const Pass& pass) {
  if (!loop_.inUtterance || loop_.requestOutstanding) return;
  const bool unsentEnd = loop_.endSeen && !loop_.endSent;
  const bool delivered = loop_.modelTotal >= 0 && loop_.framesPulled >= loop_.modelTotal;
  if (loop_.pendingAudio.empty() && !unsentEnd && !loop_.waitingForBatch &&
      (delivered || loop_.buffer.size() > kBufferedEnough)) {
    return;
  }
  ModelRequest request;
  request.audio = std::move(loop_.pendingAudio);
  loop_.pendingAudio.clear();
  request.model = pass.model;
  request.reset = loop_.firstRequest;
  request.startRow = settings_.onsetRow.value_or(loop_.idleRow);
  if (loop_.eager != loop_.eagerSent) request.eager = loop_.eagerSent = loop_.eager;
  request.finish = unsentEnd;
  request.maxFrames = kModelFrames - static_cast<int32_t>(loop_.buffer.size());
  request.generation = loop_.generation;
  loop_.endSent = loop_.endSent || unsentEnd;
  loop_.firstRequest = false;
  loop_.requestOutstanding = true;
  dispatcher_->post(std::move(request));
  if (settings_.hybrid) return;
  while (!shutdown_ && !stale(loop_.generation) &&
         !dispatcher_->waitReady(static_cast<int>(kPollStep.count()))) {
  }
  collectJob();
}

bool UttPipeline::produce(const Pass& pass) {
  const bool speaking = loop_.state == 1 || loop_.state == 2;
  if (speaking && !loop_.buffer.empty() && pass.ringFill < FrameRing::kSlots) return produceSpeech(pass);
  if (speaking && utteranceComplete()) {
    closeUtterance();
    return true;
  }
  if (loop_.state == 3 && loop_.blendRemaining > 0 && pass.ringFill < FrameRing::kSlots) {
    produceRamp();
    return true;
  }
  if (loop_.state == 0 && pass.ringFill == 0 && pass.pasteFill == 0) return produceIdle();
  return false;
}

bool UttPipeline::produceSpeech(const Pass& pass) {
  setState(2);
  // The first speech frame of an utterance renders alone, so it is ready as early as possible.
  const size_t batch = loop_.speechRendered && pass.chunk ? static_cast<size_t>(pass.chunk->batch()) : 0;
  const size_t buffered = loop_.buffer.size();
  if (batch <= buffered) {
    renderSpeech(std::max<size_t>(batch, 1), pass.chunk);
    return true;
  }
  if (buffered + static_cast<size_t>(loop_.modelAvailable) < batch || !loop_.requestOutstanding) {
    renderSpeech(1, pass.chunk);
    return true;
  }
  // The outstanding request may complete the batch.
  loop_.waitingForBatch = true;
  return false;
}

// An utterance whose model delivered nothing closes from onset too, or it would hold the loop there.
bool UttPipeline::utteranceComplete() const {
  return loop_.inUtterance && loop_.endSent && !loop_.requestOutstanding && loop_.buffer.empty() &&
         loop_.modelTotal >= 0 && loop_.framesPulled >= loop_.modelTotal;
}

void UttPipeline::closeUtterance() {
  loop_.inUtterance = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Audio already waiting belongs to the next utterance, whose first push this was.
    if (input_.empty()) firstPushSet_ = false;
  }
  if (loop_.speechRendered && !xsTarget_.empty()) {
    beginBlend(loop_.lastSpeechRow, loop_.lastSpeechKp, settings_.rampFrames);
  } else {
    setState(0);
  }
}

void UttPipeline::beginBlend(int32_t row, const Keypoints& kp, int32_t length) {
  const float* idle = idlePose(row);
  for (size_t v = 0; v < kp.size(); ++v) loop_.blendOffset[v] = kp[v] - idle[v];
  advanceIdleRow(row);
  loop_.blendLength = loop_.blendRemaining = length;
  setState(3);
}

void UttPipeline::handleInterrupt(uint64_t generation) {
  loop_.generation = generation;
  // Inline, the teeth stage is the loop's own: what it held belongs to the interrupted stream.
  if (!settings_.pipelinedPaste) tessRestart(generation);
  bool pulled = false;
  FrameInfo last;
  Keypoints kp{};
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pulled = lastPulledValid_;
    last = lastPulled_;
    kp = lastPulledKp_;
  }
  loop_.inUtterance = loop_.endSeen = loop_.endSent = loop_.speechRendered = loop_.waitingForBatch = false;
  loop_.buffer.clear();
  loop_.pendingAudio.clear();
  if (pulled && last.kind != kIdle && !xsTarget_.empty()) {
    beginBlend(last.row, kp, settings_.interruptRampFrames);
    return;
  }
  if (pulled) advanceIdleRow(last.row);
  setState(0);
}

void UttPipeline::renderSpeech(size_t n, Renderer* chunk) {
  n = std::min(n, loop_.buffer.size());
  Renderer& renderer = n > 1 ? *chunk : session_.renderer;
  loop_.batchRows.resize(n);
  loop_.batchXs.resize(n * kKeypointValues);
  loop_.batchKp.resize(n * kKeypointValues);
  for (size_t i = 0; i < n; ++i) {
    const ModelFrame& frame = loop_.buffer[i];
    loop_.batchRows[i] = frame.row;
    std::copy(frame.xs.begin(), frame.xs.end(),
              loop_.batchXs.begin() + static_cast<ptrdiff_t>(i * kKeypointValues));
    std::copy(frame.kp.begin(), frame.kp.end(),
              loop_.batchKp.begin() + static_cast<ptrdiff_t>(i * kKeypointValues));
  }
  const double start = steadyMs();
  const float* crops = nullptr;
  try {
    crops = renderer.render(loop_.batchRows.data(), loop_.batchXs.data(), loop_.batchKp.data(),
                            static_cast<int>(n));
  } catch (const std::exception& failure) {
    noteRenderFail("render", failure.what(), true);
  } catch (...) {
    noteRenderFail("render", "", true);
  }
  const double renderMs = (steadyMs() - start) / static_cast<double>(n);
  loop_.waitingForBatch = false;
  if (crops == nullptr) {
    // Frames that cannot be rendered are skipped, so the utterance still reaches its end.
    dropFrames(n);
    return;
  }
  for (size_t i = 0; i < n && !stale(loop_.generation); ++i) {
    const ModelFrame frame = loop_.buffer.front();
    loop_.buffer.pop_front();
    loop_.lastSpeechRow = frame.row;
    loop_.lastSpeechKp = frame.kp;
    enqueue(makeJob(crops + i * cropFloats_, kSpeech, frame.row, loop_.ordinal++, frame.kp, steadyMs()));
  }
  loop_.speechRendered = true;
  advanceIdleRow(loop_.lastSpeechRow);
  const std::lock_guard<std::mutex> lock(mutex_);
  stats_.renderMs = totals_.speechRendered == 0 ? renderMs : 0.9 * stats_.renderMs + 0.1 * renderMs;
  totals_.speechRendered += static_cast<int64_t>(n);
  totals_.renderMs += steadyMs() - start;
}

void UttPipeline::dropFrames(size_t n) {
  for (size_t i = 0; i < n && !loop_.buffer.empty(); ++i) {
    loop_.buffer.pop_front();
    ++loop_.ordinal;
  }
}

void UttPipeline::produceRamp() {
  const int32_t row = loop_.idleRow;
  const float weight = 1.0f - static_cast<float>(loop_.blendLength - loop_.blendRemaining + 1) /
                                  static_cast<float>(loop_.blendLength);
  const float* idle = idlePose(row);
  Keypoints kp;
  for (size_t v = 0; v < kp.size(); ++v) kp[v] = weight * loop_.blendOffset[v] + idle[v];
  try {
    const float* crop = session_.renderer.render(&row, idle, kp.data(), 1);
    enqueue(makeJob(crop, kBlend, row, -1, kp, 0));
  } catch (const std::exception& failure) {
    noteRenderFail("render", failure.what(), true);
  } catch (...) {
    noteRenderFail("render", "", true);
  }
  advanceIdleRow(row);
  if (--loop_.blendRemaining == 0) setState(0);
}

bool UttPipeline::produceIdle() {
  PasteJob job;
  job.kind = kIdle;
  job.row = loop_.idleRow;
  job.generation = loop_.generation;
  if (!enqueue(std::move(job))) return false;
  advanceIdleRow(loop_.idleRow);
  return true;
}

void UttPipeline::setState(int32_t state) {
  loop_.state = state;
  state_ = state;
}

void UttPipeline::advanceIdleRow(int32_t row) {
  loop_.idleRow = nt_ < 1 ? 0 : (row + 1) % nt_;
}

const float* UttPipeline::idlePose(int32_t row) const {
  return xsTarget_.data() + static_cast<size_t>(row) * kKeypointValues;
}

bool UttPipeline::stale(uint64_t generation) const {
  return generation_ != generation;
}

}  // namespace ko::utt
