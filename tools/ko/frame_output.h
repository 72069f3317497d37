// Where `ko render` puts its frames: an H.264 movie (.mp4, .mov, .mkv) or a directory of numbered
// PNG files (any other path).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/media/movie_encoder.h"

namespace ko::cli {

class FrameOutput {
 public:
  virtual ~FrameOutput() = default;
  // One W x H packed RGB frame, in order.
  virtual void write(const uint8_t* rgb) = 0;
  // Completes the output (a movie's index); nothing is usable before.
  virtual void finish() = 0;
};

// Throws std::runtime_error with a whole sentence when the output cannot be created.
std::unique_ptr<FrameOutput> openFrameOutput(const std::string& path, int width, int height, int fps);

// An H.264 movie (.mp4, .mov, .mkv) with a mono AAC speech track of audioRate samples per second.
// Throws std::runtime_error with a whole sentence when it cannot be created.
std::unique_ptr<tools::MovieEncoder> openSpokenMovie(const std::string& path, int width, int height, int fps,
                                                     int audioRate);

// Writes W x H packed RGB as a PNG file; throws on failure.
void writePng(const std::string& path, const uint8_t* rgb, int width, int height);

}  // namespace ko::cli
