// The driver cursor: plays a frame source as an endless loop of NT frames for one consumer at a
// time. A look-ahead thread decodes up to `ahead` frames in front of the consumer into a fixed ring
// that also keeps the last `hist` frames handed out, so stepping back (or forward within the
// decoded look-ahead) costs no decode; only a jump outside that window repositions the source.
//
// Threads: the cursor owns one look-ahead thread, started by the constructor and joined by the
// destructor. Consumer calls are serialised by the cursor (one whole call at a time), so several
// threads may share a cursor, but a pointer returned by a pull is only valid while at most `hist`
// further frames are taken without a seek. A failure of the look-ahead thread (a decode error, a
// short movie) is kept: every later pull or seek, and any consumer already waiting, throws it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "driver/source.h"

namespace ko {

// The driver video of a bundle: its JPEG directory and its movie, each by the name the log lines
// use and by path, and the frames and canvas they must deliver.
struct DriverVideo {
  std::string framesName;
  std::string framesPath;
  std::string movieName;
  std::string moviePath;
  int32_t frames = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// A warp prior movie: square frames of side `crop`.
struct PriorMovie {
  std::string name;
  std::string path;
  int32_t frames = 0;
  int32_t crop = 0;
};

class DriverCursor {
 public:
  // Takes the source; ahead is at least 1 and hist at least 0 (smaller requests are raised).
  DriverCursor(std::unique_ptr<driver::Source> src, int32_t ahead, int32_t hist);
  ~DriverCursor();
  DriverCursor(const DriverCursor&) = delete;
  DriverCursor& operator=(const DriverCursor&) = delete;

  static std::unique_ptr<DriverCursor> over(std::unique_ptr<driver::Source> src, int32_t ahead, int32_t hist);
  // A populated JPEG directory (its last frame is there), else the movie (see the log lines).
  static std::unique_ptr<DriverCursor> open(const DriverVideo& video, int32_t ahead, int32_t hist);
  static std::unique_ptr<DriverCursor> openPrior(const PriorMovie& movie, int32_t ahead, int32_t hist);

  // The next plain pull yields `frame`; throws outside [0, NT).
  void seek(int32_t frame);
  // Takes the frame at the current position (then position = index + 1, looping at NT).
  int32_t pull(uint8_t* dst);           // copies frameBytes() bytes; returns the index
  const uint8_t* pull(int32_t* index);  // points into the ring
  uint8_t* pullMut(int32_t* index);     // may be modified; never served again
  // Takes frame si, throwing if the cursor would yield another one.
  int32_t pullAt(int32_t si, uint8_t* dst);
  const uint8_t* pullAt(int32_t si, int32_t* index);
  uint8_t* pullMutAt(int32_t si, int32_t* index);

  int32_t position() const;
  uint64_t seeks() const;  // hard seeks (source repositionings) so far
  size_t residentBytes() const;

  int32_t NT() const { return NT_; }
  int32_t W() const { return W_; }
  int32_t H() const { return H_; }
  size_t frameBytes() const { return frameBytes_; }
  const std::string& name() const { return name_; }

 private:
  struct Impl;
  struct Taken {
    uint8_t* bytes;
    int32_t index;
  };
  // Repositions to si (or keeps the current position), takes the frame, and checks its index when
  // one was asked for. The caller holds the call lock, so the slot stays put while it is copied.
  Taken takeAt(std::optional<int32_t> si, bool mutableTake);

  std::unique_ptr<Impl> impl_;
  int32_t NT_ = 0, W_ = 0, H_ = 0;
  size_t frameBytes_ = 0;
  std::string name_;
};

}  // namespace ko
