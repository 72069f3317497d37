// How an utterance walks the rows of a keypoint table: forward or backward from a start row,
// wrapping at the ends or bouncing off them (0 1 2 3 4 3 2 1 0 1 ... for 5 rows).
#pragma once

#include <cstdint>

namespace ko {

// The row that frame `frame` of the utterance plays. dir is +1 or -1; a table of fewer than two
// rows always plays row 0.
inline int64_t walkRow(int64_t frame, int64_t start, int dir, bool loop, int64_t rows) {
  if (rows < 2) return 0;
  const int64_t p = frame * dir + start;
  if (loop) return ((p % rows) + rows) % rows;
  const int64_t period = 2 * (rows - 1);
  const int64_t q = ((p % period) + period) % period;
  return q <= rows - 1 ? q : period - q;
}

}  // namespace ko
