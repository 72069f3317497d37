// The shape checks every grid-sampling operator makes: a grid [N, H, W, 2] must match, in batch and
// spatial size, the image [N, C, H, W] it samples, and the image's plane must fit the limits below.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace ko {

// Tap positions are clamped as floats before they become integers: every side up to 2^24 converts
// exactly, and plane offsets are 32-bit.
inline constexpr int64_t kGridMaxSide = int64_t{1} << 24;
inline constexpr int64_t kGridMaxPlane = std::numeric_limits<int32_t>::max();

// Whether a plane of positive sides h x w fits both limits.
bool gridPlaneFits(int64_t h, int64_t w);

// "HxW".
std::string planeSizeText(int64_t h, int64_t w);

// Throws std::invalid_argument, its text `prefix` followed by the first way `gridShape` does not fit
// the 4-D `imageShape` of the input called `image`: the grid's rank, its last dimension, its batch, its
// spatial size.
void checkGridFitsImage(std::span<const int64_t> imageShape, std::span<const int64_t> gridShape,
                        std::string_view image, std::string_view prefix);

}  // namespace ko
