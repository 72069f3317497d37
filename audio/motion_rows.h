// The arithmetic that joins the motion generator's 80-frame chunks into one utterance: the blend
// at each seam, the 3-frame smoothing, the conditioning row of the next chunk and the final clamp.
// Rows are 265-value motion rows held in a RowBuffer indexed by frame.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/row_buffer.h"

namespace ko::motion {

// Row f with its first 202 values replaced by their mean over frames f - 1, f, f + 1 of `rows`,
// clipped to [first, end); the expression values stay as they are.
void smoothedRow(const RowBuffer& rows, int64_t first, int64_t end, int64_t f, float* out);

// Smooths frames max(a, first) .. min(b, end) - 1 in place, each from the unsmoothed rows.
void smoothRange(RowBuffer& rows, int64_t a, int64_t b, int64_t end);

// Adds a chunk's 80 rows. The first chunk (nothing held) is kept whole; a later one starts 70 frames
// after the previous one: its first 10 rows blend with the last 10 held (old weight 1 - k/10), the
// other 70 are appended, and the 11 frames ending at the old end are smoothed.
void addChunk(RowBuffer& rows, const float* chunk);

// The conditioning row for the chunk after `count` held rows: the reference row with scale, rotation
// bins and translation taken from held row count - 11.
void conditioningRow(const RowBuffer& rows, int64_t count, const std::vector<float>& reference, float* out);

// Clamps every value of a row to its bounds (the upper one wins where a table has them crossed).
void clampRow(float* values, const std::vector<float>& lower, const std::vector<float>& upper);

}  // namespace ko::motion
