// Writing movies with FFmpeg's own libraries: the command-line host's MP4 output, the demo
// generator's driver movie and the tests' movie fixtures all go through this one encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ko::tools {

struct MovieSettings {
  int width = 64;
  int height = 48;
  int fps = 25;
  std::string codec = "libx264";  // any FFmpeg encoder name; libx264 and libx265 run lossless
  bool fullChroma = false;        // yuv444p instead of yuv420p
  // The encoder's pixel format by FFmpeg's name ("rgb24" for libx264rgb); "" follows fullChroma. Only
  // encodeRgb feeds a format that is not YUV.
  std::string pixFmt = "";
  // libx264 only: the constant quantizer, 0 lossless; larger values keep big movies small.
  int quantizer = 0;
  // .mp4 / .mov only: the index (moov) ahead of the media data, so a cut file keeps its index.
  bool indexFirst = false;
  // Samples per second of a mono AAC speech track; 0 writes a silent movie with no audio track.
  int audioRate = 0;
};

// One movie being written. The container follows the path's extension. Every failure throws a
// std::runtime_error naming the path and FFmpeg's reason; the file is complete only after finish().
class MovieEncoder {
 public:
  MovieEncoder(const std::string& path, const MovieSettings& settings);
  ~MovieEncoder();
  MovieEncoder(const MovieEncoder&) = delete;
  MovieEncoder& operator=(const MovieEncoder&) = delete;

  // The next frame as Y, U and V planes, rows packed (width, or the chroma width, bytes per row).
  void encodePlanes(const uint8_t* const planes[3]);
  // The next frame as packed RGB24, width x height, converted to the movie's YUV (BT.601, limited).
  void encodeRgb(const uint8_t* rgb);
  // Appends `count` mono 16-bit samples at audioRate to the speech track. Any amount at any time:
  // all of it ahead of the frames, a frame's worth with each, or all after them.
  void encodeAudio(const int16_t* samples, size_t count);
  // Drains the encoders and writes the container's index.
  void finish();

  int frames() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace ko::tools
