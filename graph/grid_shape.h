// The shape checks every grid-sampling operator makes of its grid: a grid [N, H, W, 2] must match, in
// batch and spatial size, the image [N, C, H, W] it samples.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ko {

// "HxW".
std::string planeSizeText(int64_t h, int64_t w);

// Throws std::invalid_argument, its text `prefix` followed by the first way `gridShape` does not fit
// the 4-D `imageShape` of the input called `image`: the grid's rank, its last dimension, its batch, its
// spatial size.
void checkGridFitsImage(std::span<const int64_t> imageShape, std::span<const int64_t> gridShape,
                        std::string_view image, std::string_view prefix);

}  // namespace ko
