#include "tools/ko/contact_sheet.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <stdexcept>

#include "tools/ko/frame_output.h"

namespace ko::cli {

struct ContactSheet::Scaler {
  SwsContext* context = nullptr;
  ~Scaler() { sws_freeContext(context); }
};

ContactSheet::ContactSheet(int width, int height, int total, int columns, int rows, int tileWidth)
    : width_(width),
      height_(height),
      columns_(std::max(1, std::min(columns, total))),
      rows_(std::max(1, std::min(rows, (total + columns_ - 1) / columns_))),
      tileWidth_(std::min(tileWidth, width)),
      tileHeight_(std::max(1, height * tileWidth_ / std::max(width, 1))),
      sheet_(static_cast<size_t>(sheetWidth()) * sheetHeight() * 3, 0),
      scaler_(std::make_unique<Scaler>()) {
  const int tiles = columns_ * rows_;
  for (int tile = 0; tile < tiles; ++tile) {
    picked_.push_back(tiles == 1 ? 0 : static_cast<int>(static_cast<long>(tile) * (total - 1) / (tiles - 1)));
  }
  scaler_->context = sws_getContext(width, height, AV_PIX_FMT_RGB24, tileWidth_, tileHeight_,
                                    AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr);
  if (!scaler_->context) throw std::runtime_error("contact sheet: no scaler for these frame sizes");
}

ContactSheet::~ContactSheet() = default;

void ContactSheet::offer(int index, const uint8_t* rgb) {
  const auto found = std::find(picked_.begin(), picked_.end(), index);
  if (found == picked_.end()) return;
  const int tile = static_cast<int>(found - picked_.begin());
  const size_t stride = static_cast<size_t>(sheetWidth()) * 3;
  uint8_t* corner = sheet_.data() + static_cast<size_t>(tile / columns_) * tileHeight_ * stride +
                    static_cast<size_t>(tile % columns_) * tileWidth_ * 3;
  const uint8_t* source[1] = {rgb};
  const int sourceStride[1] = {3 * width_};
  uint8_t* target[1] = {corner};
  const int targetStride[1] = {static_cast<int>(stride)};
  sws_scale(scaler_->context, source, sourceStride, 0, height_, target, targetStride);
}

void ContactSheet::write(const std::string& path) const {
  writePng(path, sheet_.data(), sheetWidth(), sheetHeight());
}

}  // namespace ko::cli
