// The serving knobs of the teeth pass's retrieval and temporal logic, read from the bundle's
// "tessera_head.v1.json".
#pragma once

#include <cstdint>
#include <string_view>

namespace ko::tessera {

struct ServeConfig {
  int32_t kshort = 512;
  double aperture_tol = 0.3;
  int32_t cut = 96;
  int32_t K = 64;
  int32_t hysteresis = 8;
  int32_t lookahead = 8;
  double luma_min = 100.0;
  double chroma_max = 25.0;
  int32_t min_teeth_px = 32;
  double mask_decay = 0.6;
  bool use_lookahead = true;

  // Needs the "retrieval" and "temporal" blocks with every key; a "decode.envelope_clamp_255", when
  // present, must be the envelope of record (12). Throws the sentence of the first refusal.
  static ServeConfig fromHeadMemberJson(std::string_view text);
};

}  // namespace ko::tessera
