#include "tessera/geometry_stamp.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

namespace ko::tessera {
namespace {

// The sums are taken in 64 bits so that no int32 field, however large, can wrap a rule into passing.
bool fits(int64_t start, int64_t length, int64_t limit) {
  return start >= 0 && start + length <= limit;
}

bool bandInside(int64_t first, int64_t last, int64_t limit) {
  return first >= 0 && first < last && last <= limit;
}

bool storedInsidePatch(int64_t first, int64_t last, int64_t pad, int64_t margin, int64_t windowSize) {
  return first + pad >= margin && last + pad + margin <= windowSize + 2 * pad;
}

}  // namespace

GeometryStamp GeometryStamp::fromFields(const int32_t* f) {
  return {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11]};
}

void GeometryStamp::toFields(int32_t* f) const {
  const int32_t fields[kFieldCount] = {canvas_w, canvas_h, window_x0, window_y0, window_w, window_h,
                                       pad,      band_r0,  band_r1,   band_c0,   band_c1,  shift_margin};
  std::copy(std::begin(fields), std::end(fields), f);
}

void GeometryStamp::validate() const {
  std::string phrases;
  const auto check = [&phrases](bool holds, const char* phrase) {
    if (!holds) phrases += std::string(" ") + phrase + ";";
  };
  check(window_w > 0 && window_h > 0, "window dims must be positive");
  check(fits(window_x0, window_w, canvas_w), "window x-range escapes canvas");
  check(fits(window_y0, window_h, canvas_h), "window y-range escapes canvas");
  check(bandInside(band_r0, band_r1, window_h), "band rows escape window");
  check(bandInside(band_c0, band_c1, window_w), "band cols escape window");
  check(shift_margin >= 0 && pad > 0, "pad/shift_margin must be positive");
  check(storedInsidePatch(band_r0, band_r1, pad, shift_margin, window_h), "stored band rows escape patch");
  check(storedInsidePatch(band_c0, band_c1, pad, shift_margin, window_w), "stored band cols escape patch");
  if (!phrases.empty()) throw std::runtime_error("teeth: GeometryStamp incoherent:" + phrases);
}

std::string GeometryStamp::text() const {
  const std::pair<const char*, int32_t> entries[] = {{"canvas_w", canvas_w},
                                                     {"canvas_h", canvas_h},
                                                     {"window_x0", window_x0},
                                                     {"window_y0", window_y0},
                                                     {"window_w", window_w},
                                                     {"window_h", window_h},
                                                     {"pad", pad},
                                                     {"band_r0", band_r0},
                                                     {"band_r1", band_r1},
                                                     {"band_c0", band_c0},
                                                     {"band_c1", band_c1},
                                                     {"shift_margin", shift_margin}};
  std::string out = "{";
  for (const auto& [key, value] : entries) {
    if (out.size() > 1) out += ", ";
    out += std::string(key) + "=" + std::to_string(value);
  }
  return out + "}";
}

}  // namespace ko::tessera
