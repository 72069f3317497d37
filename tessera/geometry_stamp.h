// Where a borrowed mouth goes: the mouth window inside the square face crop, the pad that grows it to
// the patch, and the band of the window the bank stores (grown by the shift margin).
#pragma once

#include <cstdint>
#include <string>

namespace ko::tessera {

struct GeometryStamp {
  int32_t canvas_w = 0;
  int32_t canvas_h = 0;
  int32_t window_x0 = 0;
  int32_t window_y0 = 0;
  int32_t window_w = 0;
  int32_t window_h = 0;
  int32_t pad = 0;
  int32_t band_r0 = 0;
  int32_t band_r1 = 0;
  int32_t band_c0 = 0;
  int32_t band_c1 = 0;
  int32_t shift_margin = 0;

  static constexpr int kFieldCount = 12;
  // The twelve fields in declaration order, as the exported calls pass them.
  static GeometryStamp fromFields(const int32_t* fields);
  void toFields(int32_t* fields) const;

  // Throws "teeth: GeometryStamp incoherent:" followed by every broken rule's phrase.
  void validate() const;
  // {canvas_w=512, canvas_h=512, ...}, the form messages quote.
  std::string text() const;
};

}  // namespace ko::tessera
