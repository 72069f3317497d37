// The host keypoint contract: every keypoint set is 21 rows of (x, y, z).
#pragma once

namespace ko {

inline constexpr int kHostKpRows = 21;

}  // namespace ko
