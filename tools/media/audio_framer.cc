#include "tools/media/audio_framer.h"

#include <algorithm>
#include <stdexcept>

#include "tools/media/media_failure.h"

namespace ko::tools {
namespace {

// Encoders that take any frame length still code best in their usual block.
constexpr int kVariableFrameSize = 1024;

SampleLayout monoS16(int rate) {
  SampleLayout layout{{}, AV_SAMPLE_FMT_S16, rate};
  av_channel_layout_default(&layout.channels, 1);
  return layout;
}

ResamplerHandle openConverter(const std::string& path, const AVCodecContext& encoder) {
  int error = 0;
  ResamplerHandle converter =
      openResampler(monoS16(encoder.sample_rate),
                    SampleLayout{encoder.ch_layout, encoder.sample_fmt, encoder.sample_rate}, error);
  if (!converter)
    throw mediaFailure("writing", path, "cannot convert the speech for the audio encoder", error);
  return converter;
}

}  // namespace

AudioFramer::AudioFramer(const std::string& path, const AVCodecContext& encoder)
    : path_(path),
      encoder_(encoder),
      converter_(openConverter(path, encoder)),
      frameSize_(static_cast<size_t>(encoder.frame_size > 0 ? encoder.frame_size : kVariableFrameSize)),
      shortLastFrame_(encoder.codec->capabilities &
                      (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) {
  rest_.reserve(frameSize_);
}

void AudioFramer::append(const int16_t* samples, size_t count, const FrameSink& sink) {
  while (count > 0) {
    // Whole frames straight from the caller's buffer; only the pieces around them are copied.
    if (rest_.empty() && count >= frameSize_) {
      sink(*frameOf(samples, static_cast<int>(frameSize_)));
      samples += frameSize_;
      count -= frameSize_;
      continue;
    }
    const size_t taken = std::min(count, frameSize_ - rest_.size());
    rest_.insert(rest_.end(), samples, samples + taken);
    samples += taken;
    count -= taken;
    if (rest_.size() == frameSize_) {
      sink(*frameOf(rest_.data(), static_cast<int>(frameSize_)));
      rest_.clear();
    }
  }
}

void AudioFramer::finish(const FrameSink& sink) {
  if (rest_.empty()) return;
  // A short frame keeps the track exactly as long as the speech; otherwise silence fills the frame.
  if (!shortLastFrame_) rest_.resize(frameSize_, 0);
  sink(*frameOf(rest_.data(), static_cast<int>(rest_.size())));
  rest_.clear();
}

driver::FrameHandle AudioFramer::frameOf(const int16_t* samples, int count) {
  driver::FrameHandle frame(av_frame_alloc());
  if (!frame) throw std::runtime_error("movie encoder: out of memory");
  frame->format = encoder_.sample_fmt;
  frame->sample_rate = encoder_.sample_rate;
  frame->nb_samples = count;
  const int copied = av_channel_layout_copy(&frame->ch_layout, &encoder_.ch_layout);
  if (copied < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
    throw std::runtime_error("movie encoder: out of memory");
  }
  const uint8_t* source[1] = {reinterpret_cast<const uint8_t*>(samples)};
  const int converted = swr_convert(converter_.get(), frame->extended_data, count, source, count);
  // At one rate the converter holds nothing back, so every sample must come out at once.
  if (converted != count) {
    throw mediaFailure("writing", path_, "cannot convert the speech",
                       converted < 0 ? converted : AVERROR_BUG);
  }
  frame->pts = nextPts_;
  nextPts_ += count;
  return frame;
}

}  // namespace ko::tools
