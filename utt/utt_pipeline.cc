// Construction, destruction, warm-up and the host's calls. The frame loop is in frame_loop.cc, the
// teeth stage in teeth_stage.cc, the hand-off and the paste stage in paste_stage.cc.
#include "utt/utt_pipeline.h"

#include <algorithm>
#include <cstdio>

#include "pool/pool.h"
#include "utt/steady_clock_ms.h"

namespace ko::utt {
namespace {

constexpr float kSampleScale = 1.0f / 32768.0f;

std::vector<float> readXsTarget(const std::string& motionDir, int32_t nt) {
  try {
    return readRaw(resolveMember(motionDir, "xs_target.bin"), static_cast<size_t>(nt) * kKeypointValues);
  } catch (const std::exception&) {
    // Without the idle keypoints of every driver frame there is nothing to blend back to.
    return {};
  }
}

std::string failureText(const std::string& text) {
  return text.empty() ? "unknown failure" : text;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

UttPipeline::UttPipeline(const SessionParts& session, const UttRequest& request)
    : session_(session),
      settings_(resolveUttSettings(request, session.manifest.NT, pool::threads())),
      nt_(session.manifest.NT),
      frameBytes_(static_cast<size_t>(session.manifest.W) * static_cast<size_t>(session.manifest.H) * 3),
      cropFloats_(static_cast<size_t>(session.manifest.crop) * static_cast<size_t>(session.manifest.crop) *
                  3),
      xsTarget_(readXsTarget(settings_.motionDir, nt_)) {
  loop_.eager = startingEager();
  loop_.eagerSent = loop_.eager;
  dispatcher_ = std::make_unique<AudioDispatcher>([this] {
    const std::lock_guard<std::mutex> lock(mutex_);
    cv_.notify_all();
  });
  runThread_ = std::thread([this] { run(); });
  warmThread_ = std::thread([this] { warm(); });
  if (settings_.pipelinedPaste) pasteThread_ = std::thread([this] { pasteLoop(); });
}

UttPipeline::~UttPipeline() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
    pasteQueue_.stop = true;
    teethQueue_.stop = true;
  }
  cv_.notify_all();
  for (StageQueue* queue : {&teethQueue_, &pasteQueue_}) {
    queue->ready.notify_all();
    queue->space.notify_all();
  }
  // The teeth thread hands jobs to the paste queue, so it stops first.
  if (tessThread_.joinable()) tessThread_.join();
  if (pasteThread_.joinable()) pasteThread_.join();
  runThread_.join();
  warmThread_.join();
  dispatcher_.reset();
  model_.reset();
  if (settings_.stageReport) std::fputs(stageReport(totals_).c_str(), stderr);
}

std::unique_ptr<Renderer> UttPipeline::buildChunkRenderer() {
  if (settings_.steadyModel.empty()) return nullptr;
  std::unique_ptr<Renderer> chunk;
  try {
    chunk = std::make_unique<Renderer>(session_.manifest, session_.identity, settings_.steadyModel,
                                       session_.rendererThreads, session_.ep);
  } catch (const std::exception&) {
    // A bundle without the chunk model renders every frame alone.
    return nullptr;
  }
  const std::string& frameEp = session_.renderer.ep();
  if (startsWith(frameEp, "coreml-native") && !startsWith(chunk->ep(), "coreml-native")) {
    std::fprintf(
        stderr,
        "[ko_utt] steady chunk renderer '%s' DROPPED (rendering b1-only): this frame graph runs on ep=%s "
        "while the chunk graph fell back to ep=%s. A chunk that gives up the bundle's own CoreML director "
        "costs MORE per frame than the per-frame path it was meant to amortize, and letting timing choose "
        "between two runtimes makes the delivered pixels depend on scheduling.\n",
        settings_.steadyModel.c_str(), frameEp.c_str(), chunk->ep().c_str());
    return nullptr;
  }
  return chunk;
}

void UttPipeline::warmRenders(Renderer* chunk) {
  if (session_.drive.frames < 1) return;
  const int32_t si = session_.drive.si[0];
  const float* kp = session_.drive.xs.data();
  for (Renderer* renderer : {&session_.renderer, chunk}) {
    if (renderer == nullptr || shutdown_) continue;
    try {
      renderer->render(&si, kp, kp, 1);
    } catch (const std::exception& failure) {
      noteRenderFail("warm-up", failure.what(), false);
    } catch (...) {
      noteRenderFail("warm-up", "", false);
    }
  }
}

int32_t UttPipeline::startingEager() const {
  return settings_.hybrid ? kHybridLowEager : settings_.eager;
}

void UttPipeline::warm() {
  std::unique_ptr<AudioModel> model;
  std::string failure;
  try {
    model = AudioModel::open(settings_);
    model->setEager(startingEager());
  } catch (const std::exception& error) {
    failure = failureText(error.what());
  }
  std::unique_ptr<Renderer> chunk;
  if (!shutdown_) chunk = buildChunkRenderer();
  if (!shutdown_) warmRenders(chunk.get());
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    chunkRenderer_ = std::move(chunk);
    model_ = std::move(model);
    modelState_ = model_ ? 1 : -1;
    modelFailure_ = failure;
  }
  cv_.notify_all();
}

void UttPipeline::pushAudio(const int16_t* samples, int64_t count) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    input_.reserve(input_.size() + static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) input_.push_back(static_cast<float>(samples[i]) * kSampleScale);
    lastPushMs_ = steadyMs();
    if (!firstPushSet_) {
      firstPushMs_ = lastPushMs_;
      firstPushSet_ = true;
    }
  }
  cv_.notify_all();
  pasteQueue_.ready.notify_all();
}

void UttPipeline::endUtterance() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    endFlag_ = true;
  }
  cv_.notify_all();
}

void UttPipeline::interrupt() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    input_.clear();
    endFlag_ = false;
    firstPushSet_ = false;
    ring_.clear();
    for (StageQueue* queue : {&teethQueue_, &pasteQueue_}) {
      for (PasteJob& job : queue->jobs) recycle(job);
      queue->jobs.clear();
    }
    ++generation_;
  }
  cv_.notify_all();
  teethQueue_.space.notify_all();
  pasteQueue_.space.notify_all();
}

int32_t UttPipeline::framesAvailable() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int32_t>(ring_.fill());
}

PullResult UttPipeline::pull(uint8_t* dst, size_t cap, FrameInfo* info, float* kp) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ring_.fill() == 0) return PullResult::Empty;
    if (cap < frameBytes_) return PullResult::TooSmall;
    const RingFrame& frame = ring_.front();
    std::copy_n(frame.pixels.data(), frameBytes_, dst);
    if (info) *info = frame.info;
    if (kp) std::copy(frame.kp.begin(), frame.kp.end(), kp);
    lastPulledValid_ = true;
    lastPulled_ = frame.info;
    lastPulledKp_ = frame.kp;
    ring_.pop();
    ++stats_.framesDelivered;
    if (frame.info.kind == kSpeech) ++stats_.speechFramesDelivered;
  }
  cv_.notify_all();
  return PullResult::Copied;
}

int32_t UttPipeline::ready(std::string* failure) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (modelState_ < 0 && failure) *failure = modelFailure_;
  return modelState_;
}

UttStats UttPipeline::stats() {
  const std::lock_guard<std::mutex> lock(mutex_);
  UttStats stats = stats_;
  stats.state = state_;
  return stats;
}

StageTotals UttPipeline::stageTotals() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return totals_;
}

bool UttPipeline::renderStatus(std::string* text, int64_t* count) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (text) *text = renderFailText_;
  if (count) *count = renderFailures_;
  return renderFailed_;
}

void UttPipeline::noteRenderFail(const char* stage, const std::string& text, bool sticky) {
  const std::string& ep = session_.renderer.ep();
  std::string note =
      "ep=" + (ep.empty() ? std::string("unknown") : ep) + " " + stage + ": " + failureText(text);
  const std::lock_guard<std::mutex> lock(mutex_);
  ++renderFailures_;
  renderFailText_ = std::move(note);
  if (sticky) renderFailed_ = true;
}

}  // namespace ko::utt
