#include "tessera/polygon_fill.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

struct Point {
  int64_t x;
  int64_t y;
};

struct MaskView {
  uint8_t* bytes;
  int64_t width;
  int64_t height;

  void set(int64_t x, int64_t y) const {
    if (x >= 0 && y >= 0 && x < width && y < height) bytes[y * width + x] = 255;
  }
};

Point boxRelative(const float* xy, size_t i, const Box& box, const MaskView& mask) {
  const auto coordinate = [](float v, int64_t origin, int64_t extent) {
    return clampToInt(std::nearbyint(static_cast<double>(v)), origin - kFillReachPx,
                      origin + extent + kFillReachPx) -
           origin;
  };
  return {coordinate(xy[2 * i], box.x0, mask.width), coordinate(xy[2 * i + 1], box.y0, mask.height)};
}

void traceLine(Point a, Point b, const MaskView& mask) {
  const int64_t dx = std::llabs(b.x - a.x);
  const int64_t dy = -std::llabs(b.y - a.y);
  const int64_t sx = a.x < b.x ? 1 : -1;
  const int64_t sy = a.y < b.y ? 1 : -1;
  int64_t err = dx + dy;
  for (;;) {
    mask.set(a.x, a.y);
    if (a.x == b.x && a.y == b.y) return;
    const int64_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      a.x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      a.y += sy;
    }
  }
}

void addEdge(Point a, Point b, std::vector<FillScratch::Edge>& edges) {
  if (a.y == b.y) return;
  if (a.y > b.y) std::swap(a, b);
  edges.push_back({a.y, b.y, a.x * 65536, (b.x - a.x) * 65536 / (b.y - a.y)});
}

void fillRows(const MaskView& mask, FillScratch& scratch) {
  if (scratch.edges.empty()) return;
  int64_t first = scratch.edges.front().yTop;
  int64_t last = scratch.edges.front().yBottom;
  for (const auto& edge : scratch.edges) {
    first = std::min(first, edge.yTop);
    last = std::max(last, edge.yBottom);
  }
  for (int64_t y = std::max<int64_t>(0, first); y < std::min(last, mask.height); ++y) {
    scratch.crossings.clear();
    for (const auto& edge : scratch.edges) {
      if (edge.yTop <= y && y < edge.yBottom)
        scratch.crossings.push_back(edge.xTop + (y - edge.yTop) * edge.slope);
    }
    std::sort(scratch.crossings.begin(), scratch.crossings.end());
    uint8_t* row = mask.bytes + y * mask.width;
    for (size_t i = 0; i + 1 < scratch.crossings.size(); i += 2) {
      const int64_t from = std::max<int64_t>((scratch.crossings[i] + 65535) >> 16, 0);
      const int64_t to = std::min<int64_t>(scratch.crossings[i + 1] >> 16, mask.width - 1);
      if (from <= to) std::fill(row + from, row + to + 1, uint8_t{255});
    }
  }
}

}  // namespace

void fillPolygon(const float* xy, size_t vertexCount, const Box& box, std::vector<uint8_t>& out,
                 FillScratch& scratch) {
  if (box.empty()) {
    out.clear();
    return;
  }
  const int64_t width = int64_t{box.x1} - box.x0;
  const int64_t height = int64_t{box.y1} - box.y0;
  out.assign(static_cast<size_t>(width * height), 0);
  const MaskView mask{out.data(), width, height};
  scratch.edges.clear();
  if (vertexCount == 0) return;
  Point previous = boxRelative(xy, vertexCount - 1, box, mask);
  for (size_t i = 0; i < vertexCount; ++i) {
    const Point current = boxRelative(xy, i, box, mask);
    traceLine(previous, current, mask);
    addEdge(previous, current, scratch.edges);
    previous = current;
  }
  fillRows(mask, scratch);
}

}  // namespace ko::tessera
