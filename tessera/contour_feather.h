// The outward feather of a filled mask: a two-pass chamfer distance from every outside pixel to the
// filled region, turned into a smoothstep falloff that is 1 inside and reaches 0 `feather` pixels out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ko::tessera {

// `mask` is width*height bytes (non-zero = filled); `distance` is working storage. The falloff is
// written to `out`, whose rows are `outStride` floats apart.
void featherOutward(const uint8_t* mask, int32_t width, int32_t height, float feather,
                    std::vector<float>& distance, float* out, size_t outStride);

}  // namespace ko::tessera
