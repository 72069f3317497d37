// The donor bank as the teeth pass reads it: each donor's stored patch (the band of its mouth window
// grown by the shift margin), and the mouth windows cut from it at an origin in patch coordinates.
// Whatever of a window falls outside the stored patch reads as black, so no origin can read past a
// donor's bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "tessera/geometry_stamp.h"

namespace ko::tessera {

// A window's top-left corner in patch coordinates (the window grown by pad on every side).
struct PatchOrigin {
  int32_t row = 0;
  int32_t col = 0;
};

class DonorPatches {
 public:
  // `bands` holds count patches of storedHeight() x storedWidth() packed RGB, in donor order; `dy` and
  // `dx` each donor's mouth offset from the canonical centre.
  DonorPatches(const GeometryStamp& stamp, std::vector<uint8_t> bands, std::vector<int32_t> dy,
               std::vector<int32_t> dx);

  int32_t count() const { return static_cast<int32_t>(dy_.size()); }
  int32_t storedHeight() const { return storedH_; }
  int32_t storedWidth() const { return storedW_; }

  // Where the donor's window starts for a frame whose mouth is shifted by (sy, sx); (0, 0) gives the
  // canonical window.
  PatchOrigin origin(int32_t donor, int32_t sy, int32_t sx) const;
  // Whether window pixel (r, c) at `origin` comes from inside the stored patch.
  bool inside(PatchOrigin origin, int32_t r, int32_t c) const;
  // Window row r at `origin`: window_w packed RGB pixels.
  void windowRow(int32_t donor, PatchOrigin origin, int32_t r, uint8_t* out) const;
  // The whole window_h x window_w window, packed RGB.
  void window(int32_t donor, PatchOrigin origin, uint8_t* out) const;

 private:
  GeometryStamp stamp_;
  std::vector<uint8_t> bands_;
  std::vector<int32_t> dy_;
  std::vector<int32_t> dx_;
  int32_t storedH_;
  int32_t storedW_;
  int32_t storedRow0_;  // the patch row of stored row 0
  int32_t storedCol0_;
};

}  // namespace ko::tessera
