#include "utt/audio_model.h"

#include <stdexcept>

namespace ko::utt {
namespace {

constexpr int kWrap = 1;

template <class Stream, class... Args>
std::unique_ptr<Stream> openStream(const char* call, Args&&... args) {
  try {
    return std::make_unique<Stream>(std::forward<Args>(args)...);
  } catch (const std::exception& failure) {
    throw std::runtime_error(std::string(call) + ": " + failure.what());
  }
}

}  // namespace

std::unique_ptr<AudioModel> AudioModel::open(const UttSettings& settings) {
  auto model = std::make_unique<AudioModel>();
  if (settings.kind == ModelKind::A2x) {
    model->a2x_ = openStream<A2xStream>("ko_a2x_create", settings.motionDir, settings.threads);
  } else {
    model->motion_ = openStream<motion::MotionStream>("ko_motion_create", settings.motionDir,
                                                      settings.threads, settings.motionEp);
  }
  return model;
}

void AudioModel::reset(int64_t start, int dir) {
  if (a2x_) {
    a2x_->reset(start, dir, kWrap);
  } else {
    motion_->reset(start, dir, kWrap != 0);
  }
}

void AudioModel::setEager(int value) {
  if (a2x_) {
    a2x_->setEager(value);
  } else {
    motion_->setEager(value);
  }
}

void AudioModel::push(const float* samples, int64_t count) {
  if (a2x_) {
    a2x_->push(samples, count);
  } else {
    motion_->push(samples, count);
  }
}

void AudioModel::finish() {
  if (a2x_) {
    a2x_->finish();
  } else {
    motion_->finish();
  }
}

int64_t AudioModel::avail() {
  return a2x_ ? a2x_->avail() : motion_->avail();
}

int64_t AudioModel::pull(int32_t* rows, float* xs, float* kp, int64_t max) {
  return a2x_ ? a2x_->pull(rows, xs, kp, nullptr, max) : motion_->pull(rows, xs, kp, max);
}

int64_t AudioModel::total() const {
  return a2x_ ? a2x_->total() : motion_->total();
}

}  // namespace ko::utt
