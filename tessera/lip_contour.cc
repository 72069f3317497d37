#include "tessera/lip_contour.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

constexpr int32_t kMaxMapAnchors = 8;

void checkAnchorRows(const int32_t* rows, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (rows[i] < 0 || rows[i] >= kKeypointCount) {
      throw std::invalid_argument("LipContour: anchor row " + std::to_string(rows[i]) + " is outside 0..20");
    }
  }
}

size_t canvasArea(int32_t n) {
  return static_cast<size_t>(n) * static_cast<size_t>(n);
}

struct Bounds {
  double minX = HUGE_VAL;
  double minY = HUGE_VAL;
  double maxX = -HUGE_VAL;
  double maxY = -HUGE_VAL;
};

}  // namespace

LipContour::LipContour(int32_t canvas, float feather, const double* uCanon, int32_t nv, const int32_t* lipIdx,
                       int32_t nIdx)
    : canvas_(canvas), feather_(feather), nv_(nv) {
  if (canvas < 1)
    throw std::invalid_argument("LipContour: canvas " + std::to_string(canvas) + " is not positive");
  // A feather that rounds to 0 in single precision would divide the distance field by zero.
  if (!(feather > 0.0f)) throw std::invalid_argument("LipContour: feather is not positive");
  if (uCanon == nullptr || nv < 1) throw std::invalid_argument("LipContour: the outline has no vertices");
  if (lipIdx == nullptr || nIdx < 1)
    throw std::invalid_argument("LipContour: the outline has no anchor rows");
  checkAnchorRows(lipIdx, nIdx);
  u_canon_.assign(uCanon, uCanon + 2 * static_cast<size_t>(nv));
  lip_idx_.assign(lipIdx, lipIdx + nIdx);
}

void LipContour::attachMap(const double* W, const double* b, int32_t rows, int32_t cols,
                           const int32_t* lipIdx, int32_t nIdx) {
  if (W == nullptr || b == nullptr || lipIdx == nullptr || nIdx < 1 || nIdx > kMaxMapAnchors ||
      int64_t{rows} != 2 * int64_t{nv_} || int64_t{cols} != 2 * int64_t{nIdx}) {
    throw std::runtime_error("lip_template.v1.json: lip_map shape does not match the template");
  }
  checkAnchorRows(lipIdx, nIdx);
  W_.assign(W, W + static_cast<size_t>(rows) * static_cast<size_t>(cols));
  b_.assign(b, b + rows);
  kd_ = cols;
  lip_idx_.assign(lipIdx, lipIdx + nIdx);
}

std::vector<float> LipContour::polygon(const float* kp) const {
  std::vector<float> out;
  polygonInto(kp, out);
  return out;
}

void LipContour::polygonInto(const float* kp, std::vector<float>& out) const {
  const double s = canvas_ / 2.0;
  std::array<double, 2 * kMaxMapAnchors> feature{};
  double mx = 0;
  double my = 0;
  const size_t count = lip_idx_.size();
  for (const int32_t row : lip_idx_) {
    mx += (kp[3 * row] + 1.0) * s;
    my += (kp[3 * row + 1] + 1.0) * s;
  }
  mx /= static_cast<double>(count);
  my /= static_cast<double>(count);
  out.resize(2 * static_cast<size_t>(nv_));
  if (hasLipMap()) {
    for (size_t i = 0; i < count; ++i) {
      feature[2 * i] = (kp[3 * lip_idx_[i]] + 1.0) * s - mx;
      feature[2 * i + 1] = (kp[3 * lip_idx_[i] + 1] + 1.0) * s - my;
    }
    for (size_t j = 0; j < out.size(); ++j) {
      const double* w = W_.data() + j * static_cast<size_t>(kd_);
      double v = b_[j] + (j % 2 == 0 ? mx : my);
      for (int32_t k = 0; k < kd_; ++k) v += w[k] * feature[static_cast<size_t>(k)];
      out[j] = static_cast<float>(v);
    }
    return;
  }
  double sx = 1e-6;
  double sy = 1e-6;
  for (const int32_t row : lip_idx_) {
    sx = std::max(sx, std::fabs((kp[3 * row] + 1.0) * s - mx));
    sy = std::max(sy, std::fabs((kp[3 * row + 1] + 1.0) * s - my));
  }
  for (size_t v = 0; v < static_cast<size_t>(nv_); ++v) {
    out[2 * v] = static_cast<float>(sx * u_canon_[2 * v] + mx);
    out[2 * v + 1] = static_cast<float>(sy * u_canon_[2 * v + 1] + my);
  }
}

Box LipContour::box(const std::vector<float>& poly) const {
  Bounds bounds;
  for (size_t i = 0; i + 1 < poly.size(); i += 2) {
    // A vertex that is not a number has no place on the canvas: nothing is drawn for the frame.
    if (!std::isfinite(poly[i]) || !std::isfinite(poly[i + 1])) return {};
    bounds.minX = std::min(bounds.minX, static_cast<double>(poly[i]));
    bounds.maxX = std::max(bounds.maxX, static_cast<double>(poly[i]));
    bounds.minY = std::min(bounds.minY, static_cast<double>(poly[i + 1]));
    bounds.maxY = std::max(bounds.maxY, static_cast<double>(poly[i + 1]));
  }
  const double margin = static_cast<double>(feather_) + 2.0;
  Box b;
  b.x0 = static_cast<int32_t>(clampToInt(std::floor(bounds.minX - margin), 0, canvas_));
  b.y0 = static_cast<int32_t>(clampToInt(std::floor(bounds.minY - margin), 0, canvas_));
  b.x1 = static_cast<int32_t>(clampToInt(std::ceil(bounds.maxX + margin) + 1.0, b.x0, canvas_));
  b.y1 = static_cast<int32_t>(clampToInt(std::ceil(bounds.maxY + margin) + 1.0, b.y0, canvas_));
  return b;
}

void LipContour::fillScanline(const std::vector<float>& poly, const Box& region,
                              std::vector<uint8_t>& out) const {
  FillScratch scratch;
  fillPolygon(poly.data(), poly.size() / 2, region, out, scratch);
}

void LipContour::contourF32(const std::vector<float>& poly, const Box& region, float* canvasOut) {
  const Box clipped = intersect(region, {0, 0, canvas_, canvas_});
  if (clipped.empty()) return;
  fillPolygon(poly.data(), poly.size() / 2, clipped, mask_, fill_);
  featherOutward(mask_.data(), clipped.x1 - clipped.x0, clipped.y1 - clipped.y0, feather_, distance_,
                 canvasOut + static_cast<size_t>(clipped.y0) * static_cast<size_t>(canvas_) + clipped.x0,
                 static_cast<size_t>(canvas_));
}

void LipContour::contourF32Canvas(const float* kp, float* out) {
  polygonInto(kp, poly_);
  std::memset(out, 0, canvasArea(canvas_) * sizeof(float));
  contourF32(poly_, box(poly_), out);
}

Box LipContour::contourIntoScratch(const float* kp) {
  polygonInto(kp, poly_);
  const Box b = box(poly_);
  if (b.empty()) return b;
  canvasScratch_.resize(canvasArea(canvas_));
  contourF32(poly_, b, canvasScratch_.data());
  return b;
}

void LipContour::checkComposeCanvas(const UnifiedPi& pi) const {
  if (pi.canvas != canvas_ || pi.xs.size() != static_cast<size_t>(canvas_) ||
      pi.ys.size() != static_cast<size_t>(canvas_)) {
    throw std::invalid_argument("LipContour: the contour is on a " + std::to_string(canvas_) +
                                " canvas but pi composes on " + std::to_string(pi.canvas));
  }
}

void LipContour::deliveredU8(const float* kp, const UnifiedPi& pi, uint8_t* out) {
  checkComposeCanvas(pi);
  const Box b = contourIntoScratch(kp);
  if (b.empty()) {
    std::memset(out, 0, canvasArea(canvas_));
    return;
  }
  pi.piU8ShrunkBy(kp, canvasScratch_.data(), b, out);
}

bool LipContour::shrinkU8InPlace(const float* kp, const Box& region, uint8_t* mask) {
  const Box target = intersect(region, {0, 0, canvas_, canvas_});
  const Box contour = contourIntoScratch(kp);
  const Box kept = intersect(contour, target);
  bool any = false;
  for (int32_t y = target.y0; y < target.y1; ++y) {
    const size_t rowStart = static_cast<size_t>(y) * static_cast<size_t>(canvas_);
    for (int32_t x = target.x0; x < target.x1; ++x) {
      uint8_t& byte = mask[rowStart + static_cast<size_t>(x)];
      const bool inside = !kept.empty() && x >= kept.x0 && x < kept.x1 && y >= kept.y0 && y < kept.y1;
      byte = inside ? std::min(byte, maskByte(canvasScratch_[rowStart + static_cast<size_t>(x)])) : 0;
      any = any || byte != 0;
    }
  }
  return any;
}

bool LipContour::deliveredU8AndShift(const float* kp, const UnifiedPi& pi, const double cCanon[2],
                                     uint8_t* out, int* shiftY, int* shiftX) {
  checkComposeCanvas(pi);
  const bool centred = pi.piU8AndShift(kp, cCanon, out, shiftY, shiftX);
  const bool kept = shrinkU8InPlace(kp, pi.supportBox(kp), out);
  return centred && kept;
}

}  // namespace ko::tessera
