// The movie's speech on its way to the audio encoder: mono 16-bit samples arrive in whatever
// amounts the caller has, the encoder takes whole frames of its own size and sample format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/ff_handles.h"
#include "tools/media/resampler.h"

namespace ko::tools {

class AudioFramer {
 public:
  using FrameSink = std::function<void(const AVFrame& frame)>;

  // `encoder` is open and outlives the framer; `path` names the movie in errors.
  AudioFramer(const std::string& path, const AVCodecContext& encoder);

  // Hands every frame the samples complete to `sink`, keeping the rest for the next call.
  void append(const int16_t* samples, size_t count, const FrameSink& sink);
  // Hands the kept rest to `sink` as the last frame.
  void finish(const FrameSink& sink);

 private:
  driver::FrameHandle frameOf(const int16_t* samples, int count);

  std::string path_;
  const AVCodecContext& encoder_;
  ResamplerHandle converter_;
  size_t frameSize_;
  bool shortLastFrame_;
  std::vector<int16_t> rest_;
  int64_t nextPts_ = 0;  // in samples, the encoder's time base
};

}  // namespace ko::tools
