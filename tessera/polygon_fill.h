// Even-odd scanline fill of a closed polygon into a byte mask of a pixel box: vertices rounded
// half-to-even, edges traced with Bresenham's line, rows filled between 16.16 fixed-point crossings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessera/unified_pi.h"

namespace ko::tessera {

// Working storage kept between fills so the per-frame path does not allocate.
struct FillScratch {
  struct Edge {
    int64_t yTop;
    int64_t yBottom;
    int64_t xTop;   // 16.16
    int64_t slope;  // 16.16 per row
  };
  std::vector<Edge> edges;
  std::vector<int64_t> crossings;
};

// `xy` holds `vertexCount` interleaved (x, y) canvas coordinates. `out` becomes the box's
// (x1-x0)*(y1-y0) bytes, 255 inside and on the outline, 0 elsewhere; empty for an empty box.
// Vertices farther than kFillReachPx beyond the box are pulled in to that distance, which bounds the
// fixed-point arithmetic and the outline tracing for polygons thrown far off the canvas.
void fillPolygon(const float* xy, size_t vertexCount, const Box& box, std::vector<uint8_t>& out,
                 FillScratch& scratch);

inline constexpr int64_t kFillReachPx = 1 << 14;

}  // namespace ko::tessera
