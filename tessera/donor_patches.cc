#include "tessera/donor_patches.h"

#include <algorithm>
#include <cstring>

namespace ko::tessera {

DonorPatches::DonorPatches(const GeometryStamp& stamp, std::vector<uint8_t> bands, std::vector<int32_t> dy,
                           std::vector<int32_t> dx)
    : stamp_(stamp),
      bands_(std::move(bands)),
      dy_(std::move(dy)),
      dx_(std::move(dx)),
      storedH_(stamp.band_r1 - stamp.band_r0 + 2 * stamp.shift_margin),
      storedW_(stamp.band_c1 - stamp.band_c0 + 2 * stamp.shift_margin),
      storedRow0_(stamp.band_r0 + stamp.pad - stamp.shift_margin),
      storedCol0_(stamp.band_c0 + stamp.pad - stamp.shift_margin) {}

PatchOrigin DonorPatches::origin(int32_t donor, int32_t sy, int32_t sx) const {
  const int64_t pad = stamp_.pad;
  const auto clampToPatch = [pad](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, 2 * pad));
  };
  const size_t d = static_cast<size_t>(donor);
  return {clampToPatch(pad + dy_[d] - sy), clampToPatch(pad + dx_[d] - sx)};
}

bool DonorPatches::inside(PatchOrigin origin, int32_t r, int32_t c) const {
  const int32_t sr = origin.row + r - storedRow0_;
  const int32_t sc = origin.col + c - storedCol0_;
  return sr >= 0 && sr < storedH_ && sc >= 0 && sc < storedW_;
}

void DonorPatches::windowRow(int32_t donor, PatchOrigin origin, int32_t r, uint8_t* out) const {
  const int32_t width = stamp_.window_w;
  std::memset(out, 0, static_cast<size_t>(width) * 3);
  const int32_t sr = origin.row + r - storedRow0_;
  if (sr < 0 || sr >= storedH_) return;
  // Window column c reads stored column c + shift; only the columns landing in [0, storedW_) copy.
  const int32_t shift = origin.col - storedCol0_;
  const int32_t first = std::max(0, -shift);
  const int32_t last = std::min(width, storedW_ - shift);
  if (first >= last) return;
  const size_t patchBytes = static_cast<size_t>(storedH_) * static_cast<size_t>(storedW_) * 3;
  const uint8_t* row = bands_.data() + static_cast<size_t>(donor) * patchBytes +
                       static_cast<size_t>(sr) * static_cast<size_t>(storedW_) * 3;
  std::memcpy(out + static_cast<size_t>(first) * 3, row + static_cast<size_t>(first + shift) * 3,
              static_cast<size_t>(last - first) * 3);
}

void DonorPatches::window(int32_t donor, PatchOrigin origin, uint8_t* out) const {
  const size_t rowBytes = static_cast<size_t>(stamp_.window_w) * 3;
  for (int32_t r = 0; r < stamp_.window_h; ++r)
    windowRow(donor, origin, r, out + static_cast<size_t>(r) * rowBytes);
}

}  // namespace ko::tessera
