#include "utt/audio_dispatcher.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace ko::utt {

AudioDispatcher::AudioDispatcher(std::function<void()> wake)
    : wake_(std::move(wake)),
      xs_(static_cast<size_t>(kModelFrames) * kKeypointValues),
      kp_(xs_.size()),
      thread_([this] { loop(); }) {}

AudioDispatcher::~AudioDispatcher() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void AudioDispatcher::post(ModelRequest request) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    request_ = std::move(request);
  }
  cv_.notify_all();
}

std::optional<ModelResponse> AudioDispatcher::take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::optional<ModelResponse> response = std::move(response_);
  response_.reset();
  return response;
}

bool AudioDispatcher::waitReady(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return response_.has_value(); });
}

void AudioDispatcher::loop() {
  for (;;) {
    ModelRequest request;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return stop_ || request_.has_value(); });
      if (stop_) return;
      request = std::move(*request_);
      request_.reset();
    }
    ModelResponse response = serve(request);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      response_ = std::move(response);
    }
    cv_.notify_all();
    wake_();
  }
}

ModelResponse AudioDispatcher::serve(ModelRequest& request) {
  ModelResponse response;
  response.generation = request.generation;
  AudioModel& model = *request.model;
  try {
    if (request.reset) model.reset(request.startRow, request.direction);
    if (request.eager != 0) model.setEager(request.eager);
    if (!request.audio.empty()) model.push(request.audio.data(), static_cast<int64_t>(request.audio.size()));
    if (request.finish) model.finish();
    const int64_t available = model.avail();
    const int64_t want = std::min<int64_t>(request.maxFrames, available);
    const int64_t pulled = want > 0 ? model.pull(rows_.data(), xs_.data(), kp_.data(), want) : 0;
    for (int64_t i = 0; i < pulled; ++i) {
      ModelFrame frame;
      frame.row = rows_[static_cast<size_t>(i)];
      std::copy_n(xs_.begin() + i * kKeypointValues, kKeypointValues, frame.xs.begin());
      std::copy_n(kp_.begin() + i * kKeypointValues, kKeypointValues, frame.kp.begin());
      response.frames.push_back(frame);
    }
    response.available = std::max<int64_t>(available - pulled, 0);
    response.total = model.total();
  } catch (const std::exception& failure) {
    response.failure = failure.what();
  } catch (...) {
    response.failure = "unknown failure";
  }
  return response;
}

}  // namespace ko::utt
