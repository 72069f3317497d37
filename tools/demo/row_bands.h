// Painting a picture's rows on every core: the rows split into one contiguous band per thread. Each
// row is painted by the same code whichever band holds it, so the result does not depend on the
// split.
#pragma once

#include <functional>

namespace ko::demo {

// Calls paint(begin, end) for disjoint bands covering [0, rows), concurrently, and returns when all
// are done. `paint` must not throw.
void forRowBands(int rows, const std::function<void(int begin, int end)>& paint);

}  // namespace ko::demo
