#include "audio/motion_rows.h"

#include <algorithm>

#include "audio/motion_layout.h"

namespace ko::motion {

void smoothedRow(const RowBuffer& rows, int64_t first, int64_t end, int64_t f, float* out) {
  const int64_t from = std::max(f - 1, first), to = std::min(f + 2, end);
  const float* self = rows.row(f);
  std::copy_n(self, row::kWidth, out);
  const auto frames = static_cast<float>(to - from);
  for (int j = 0; j < row::kSmoothed; ++j) {
    float sum = 0;
    for (int64_t g = from; g < to; ++g) sum += rows.row(g)[j];
    out[j] = sum / frames;
  }
}

void smoothRange(RowBuffer& rows, int64_t a, int64_t b, int64_t end) {
  const int64_t first = rows.dropped();
  a = std::max(a, first);
  b = std::min(b, end);
  if (a >= b) return;
  std::vector<float> smoothed(static_cast<size_t>(b - a) * row::kWidth);
  for (int64_t f = a; f < b; ++f) smoothedRow(rows, first, end, f, smoothed.data() + (f - a) * row::kWidth);
  std::copy(smoothed.begin(), smoothed.end(), rows.row(a));
}

void addChunk(RowBuffer& rows, const float* chunk) {
  const int64_t oldEnd = rows.end();
  if (oldEnd == 0) {
    std::copy_n(chunk, kChunkFrames * row::kWidth, rows.appendRows(kChunkFrames));
    return;
  }
  const int64_t start = oldEnd - kBlendFrames;
  for (int k = 0; k < kBlendFrames; ++k) {
    const float fresh = static_cast<float>(k) / kBlendFrames;
    float* held = rows.row(start + k);
    const float* next = chunk + k * row::kWidth;
    for (int j = 0; j < row::kWidth; ++j) held[j] = held[j] * (1.0f - fresh) + next[j] * fresh;
  }
  std::copy_n(chunk + kBlendFrames * row::kWidth, kChunkAdvance * row::kWidth,
              rows.appendRows(kChunkAdvance));
  smoothRange(rows, oldEnd - (kBlendFrames + 1), oldEnd, rows.end());
}

void conditioningRow(const RowBuffer& rows, int64_t count, const std::vector<float>& reference, float* out) {
  std::copy_n(reference.data(), row::kWidth, out);
  std::copy_n(rows.row(count - (kBlendFrames + 1)), row::kSmoothed, out);
}

void clampRow(float* values, const std::vector<float>& lower, const std::vector<float>& upper) {
  for (int j = 0; j < row::kWidth; ++j) values[j] = std::min(std::max(values[j], lower[j]), upper[j]);
}

}  // namespace ko::motion
