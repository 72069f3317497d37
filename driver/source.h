// A frame source: the driver video (or a movie-backed warp prior) read one frame at a time. It
// knows its frame count and geometry up front (from the manifest, never from the media), writes each
// frame into a buffer its caller owns, and can rewind and seek. Sources never loop by themselves;
// the driver cursor rewinds them. A source is used by one thread at a time; NT, W, H, frameBytes,
// name and residentBytes never change after construction. Every failure is a std::runtime_error
// carrying a whole sentence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ko::driver {

class Source {
 public:
  virtual ~Source() = default;

  virtual int32_t NT() const = 0;  // frames in the member
  virtual int32_t W() const = 0;   // frame width in pixels
  virtual int32_t H() const = 0;   // frame height in pixels
  // Bytes one next() writes; packed 8-bit RGB unless the source says otherwise.
  virtual size_t frameBytes() const { return static_cast<size_t>(W()) * static_cast<size_t>(H()) * 3; }
  // Writes the frame at the current position into dst (frameBytes() bytes) and advances by one.
  // Returns false, writing nothing, when the position is at or past NT().
  virtual bool next(uint8_t* dst) = 0;
  virtual void rewind() = 0;             // position := 0
  virtual void seek(int32_t frame) = 0;  // the next next() yields `frame`
  // Short description of the decoder behind the source, for log lines and errors.
  virtual std::string name() const = 0;
  // Bytes held by the source itself (decoder state, buffers), for memory accounting.
  virtual size_t residentBytes() const = 0;
};

// Frames "<dir>/frame_%06d.jpg", 0-based, decoded with stb_image. Touches no file until read.
std::unique_ptr<Source> openJpgDir(const std::string& dir, int32_t NT, int32_t W, int32_t H);

// The driver video decoded in place with FFmpeg: 4:2:0 frames (yuv420p or nv12) delivered as packed
// RGB. Opens the file and checks its geometry and declared frame count now.
std::unique_ptr<Source> openMp4(const std::string& path, int32_t NT, int32_t W, int32_t H);

// The warp prior decoded in place: a crop x crop yuv444p movie delivered as three planes (R, G, B)
// of half floats in [0, 1], 6 * crop * crop bytes per frame.
std::unique_ptr<Source> openPriorHevc(const std::string& path, int32_t NT, int32_t crop);

}  // namespace ko::driver

namespace ko {

// "libavcodec <version built against> / <configuration of the library loaded>", for diagnostics.
std::string movieDecoderBuild();

}  // namespace ko
