#include "graph/grid_shape.h"

#include "graph/op_refusal.h"

namespace ko {

bool gridPlaneFits(int64_t h, int64_t w) {
  return h <= kGridMaxSide && w <= kGridMaxSide && h * w <= kGridMaxPlane;
}

std::string planeSizeText(int64_t h, int64_t w) {
  return std::to_string(h) + "x" + std::to_string(w);
}

void checkGridFitsImage(std::span<const int64_t> imageShape, std::span<const int64_t> gridShape,
                        std::string_view image, std::string_view prefix) {
  const auto refuse = [prefix](const std::string& why) { refuseOp(prefix, why); };
  if (gridShape.size() != 4)
    refuse("grid must be 4-D [N, H, W, 2], got rank " + std::to_string(gridShape.size()));
  if (gridShape[3] != 2) refuse("grid's last dimension must be 2, got " + std::to_string(gridShape[3]));
  if (gridShape[0] != imageShape[0]) {
    refuse("grid batch " + std::to_string(gridShape[0]) + " differs from " + std::string(image) + " batch " +
           std::to_string(imageShape[0]));
  }
  if (gridShape[1] != imageShape[2] || gridShape[2] != imageShape[3]) {
    refuse("grid spatial size " + planeSizeText(gridShape[1], gridShape[2]) + " differs from " +
           std::string(image) + "'s " + planeSizeText(imageShape[2], imageShape[3]));
  }
}

}  // namespace ko
