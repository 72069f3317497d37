// The per-source-frame data of one identity that the renderer and the paste read on every frame:
// the warp prior P, the pooled features, the optional synthesised features and the paste transform
// M. The tensors are mapped read-only and never copied; a bundle that ships its warp prior as a
// movie has its frames decoded on demand through a prior cursor.
//
// Threads: every accessor is read-only and safe from any thread, and the prior cursor is opened
// once however many threads ask first. The cursor serves one consumer at a time, so P and walkP on
// a movie prior are called from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bundle/manifest.h"
#include "bundle/mapped_file.h"

namespace ko {

class DriverCursor;

inline constexpr size_t kPooled64RowBytes = 131072;  // 65536 halves
inline constexpr size_t kFsRedRowBytes = 524288;     // 262144 halves

// Refuses a bundle whose members would leave the renderer without a warp prior (no P.f16, no
// fs_red.f16 and no playable prior movie), with a sentence that says what is missing.
void ensureIdentityMembers(const Manifest& manifest);

class Identity {
 public:
  // Checks the members, maps them and brings M into the manifest's canvas. Throws on any failure,
  // releasing whatever was mapped before it.
  explicit Identity(const Manifest& manifest);
  ~Identity();
  Identity(const Identity&) = delete;
  Identity& operator=(const Identity&) = delete;

  int32_t NT() const { return NT_; }
  int32_t crop() const { return crop_; }
  // Whether P can produce rows: a raw prior is mapped or a prior movie plays in its place.
  bool hasPrior() const { return P_.data() != nullptr || priorFromMovie(); }
  bool hasFsRed() const { return fsRed_.data() != nullptr; }

  // None of the row accessors checks si: callers keep it in [0, NT).
  // The prior row of si: planes R, G, B of crop x crop halves in [0, 1], mapped or decoded.
  const uint16_t* P(int si) const;
  const float* M(int si) const;  // a, b, c, d, e, f: X = a x + b y + c, Y = d x + e y + f
  const uint16_t* pooled64(int si) const;
  const uint16_t* fsRed(int si) const;  // meaningful only when the bundle has fs_red.f16
  // Warms the movie prior's decoding in order; does nothing for a mapped prior.
  void walkP(int si) const;

  // The prior cursor, opened on first use (look-ahead 2, history 11).
  DriverCursor& prior() const;
  // "mmap P.f16", the prior cursor's source name, or "none".
  std::string priorBackend() const;
  size_t priorResidentBytes() const;
  uint64_t priorSeeks() const;

  // Scales M from the canvas it was authored on (M_src_w x M_src_h) to W x H.
  void rescaleM(const Manifest& manifest);

 private:
  bool priorFromMovie() const { return !priorMoviePath_.empty(); }

  int32_t NT_;
  int32_t crop_;
  MappedFile pooled64_;
  MappedFile P_;      // null data when the bundle has no raw prior
  MappedFile fsRed_;  // null data when absent
  std::vector<float> M_;
  std::string priorMoviePath_;  // empty unless P is played from the movie
  Manifest manifest_;
  mutable std::once_flag priorOnce_;
  mutable std::unique_ptr<DriverCursor> prior_;
};

}  // namespace ko
