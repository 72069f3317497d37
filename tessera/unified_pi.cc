#include "tessera/unified_pi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

// Centre and largest half-extents of the lip keypoints.
struct LipSpread {
  float cx = 0;
  float cy = 0;
  float ex = 0;
  float ey = 0;
  size_t count = 0;
};

constexpr float kLipMinRadius = 0.1f;
constexpr float kGateMinRadius = 0.004f;
constexpr float kGateOpensAt = 0.02f;
constexpr float kGateOpenSpan = 0.01f;

float keypointX(const float* kp, int32_t row) {
  return kp[3 * row];
}

float keypointY(const float* kp, int32_t row) {
  return kp[3 * row + 1];
}

// The rows index a 63-float vector, so a row outside 0..20 would read beyond the frame's keypoints.
void checkLipRows(const std::vector<int32_t>& rows) {
  for (const int32_t row : rows) {
    if (row < 0 || row >= kKeypointCount) {
      throw std::runtime_error("teeth-pi: unified.pi.lip_idx names keypoint row " + std::to_string(row) +
                               ", outside 0..20");
    }
  }
}

LipSpread spreadOf(const float* kp, const std::vector<int32_t>& rows) {
  checkLipRows(rows);
  LipSpread s;
  s.count = rows.size();
  if (rows.empty()) return s;
  double sumX = 0;
  double sumY = 0;
  for (const int32_t row : rows) {
    sumX += keypointX(kp, row);
    sumY += keypointY(kp, row);
  }
  s.cx = static_cast<float>(sumX / static_cast<double>(rows.size()));
  s.cy = static_cast<float>(sumY / static_cast<double>(rows.size()));
  for (const int32_t row : rows) {
    s.ex = std::max(s.ex, std::fabs(keypointX(kp, row) - s.cx));
    s.ey = std::max(s.ey, std::fabs(keypointY(kp, row) - s.cy));
  }
  return s;
}

EllParams ellipseOf(const LipSpread& s, float padX, float padY, float minRx, float minRy, float scale,
                    float drop) {
  float rx = padX != 0.0f ? s.ex + padX : s.ex;
  float ry = padY != 0.0f ? s.ey + padY : s.ey;
  rx = std::max(minRx, rx);
  ry = std::max(minRy, ry);
  if (scale != 1.0f) {
    rx *= scale;
    ry *= scale;
  }
  return {s.cx, s.cy + drop, rx, ry, std::sqrt(rx * ry) * 256.0f};
}

// The feathered ellipse at one point: smoothstep of (1 - d) * R / 10, d the normalised radius.
float ellValue(const EllParams& e, float x, float y) {
  const float dx = (x - e.cx) / e.rx;
  const float dy = (y - e.cy) / e.ry;
  const float d = std::sqrt(dx * dx + dy * dy);
  const float t = (1.0f - d) * e.R / 10.0f;
  if (!(t > 0.0f)) return 0.0f;
  return smoothstep(std::min(1.0f, t));
}

float gateOf(const LipSpread& s) {
  if (s.count == 0) return 0.0f;
  return smoothstep(std::clamp((s.ey - kGateOpensAt) / kGateOpenSpan, 0.0f, 1.0f));
}

int32_t boxEdge(double v, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(clampToInt(v, lo, hi));
}

}  // namespace

Box intersect(const Box& a, const Box& b) {
  Box r{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
  r.x1 = std::max(r.x1, r.x0);
  r.y1 = std::max(r.y1, r.y0);
  return r;
}

void UnifiedPi::setCanvas(int32_t n) {
  if (n < 1) throw std::runtime_error("teeth-pi: engine canvas " + std::to_string(n) + " is not positive");
  canvas = n;
  xs.assign(static_cast<size_t>(n), -1.0f);
  for (int32_t i = 0; n > 1 && i < n; ++i) {
    xs[static_cast<size_t>(i)] = 2.0f * static_cast<float>(i) / static_cast<float>(n - 1) - 1.0f;
  }
  ys = xs;
}

void UnifiedPi::fillEllipse(const EllParams& e, float gain, float* out) const {
  for (int32_t r = 0; r < canvas; ++r) {
    float* row = out + static_cast<size_t>(r) * static_cast<size_t>(canvas);
    for (int32_t c = 0; c < canvas; ++c) row[c] = gain * ellValue(e, xs[c], ys[r]);
  }
}

void UnifiedPi::ellMask(const float* kp, float padX, float padY, float minRx, float minRy, float scale,
                        float drop, float* out) const {
  fillEllipse(ellipseOf(spreadOf(kp, lip_idx), padX, padY, minRx, minRy, scale, drop), 1.0f, out);
}

void UnifiedPi::lipMask(const float* kp, float* out) const {
  fillEllipse(lipParams(kp), 1.0f, out);
}

void UnifiedPi::propTeethGate(const float* kp, float* out) const {
  float gate = 0;
  const EllParams e = gateParams(kp, &gate);
  fillEllipse(e, gate, out);
}

EllParams UnifiedPi::lipParams(const float* kp) const {
  const LipSpread s = spreadOf(kp, lip_idx);
  float scale = 1.0f;
  if (corner_recovery) {
    // Grow the ellipse until its feathered edge clears every lip keypoint.
    const float rx1 = std::max(kLipMinRadius, s.ex + pad_x);
    const float ry1 = std::max(kLipMinRadius, s.ey + pad_y);
    const float r1 = std::sqrt(rx1 * ry1) * 256.0f;
    float farthest = 0;
    for (const int32_t row : lip_idx) {
      const float dx = (keypointX(kp, row) - s.cx) / rx1;
      const float dy = (keypointY(kp, row) - (s.cy + down)) / ry1;
      farthest = std::max(farthest, std::sqrt(dx * dx + dy * dy));
    }
    scale = std::max(1.0f, 5.0f / r1 + farthest);
  }
  return ellipseOf(s, pad_x, pad_y, kLipMinRadius, kLipMinRadius, scale, down);
}

EllParams UnifiedPi::gateParams(const float* kp, float* gateOut) const {
  const LipSpread s = spreadOf(kp, lip_idx);
  if (gateOut != nullptr) *gateOut = gateOf(s);
  return ellipseOf(s, 0.0f, 0.0f, kGateMinRadius, kGateMinRadius, prop_gate_scale, 0.0f);
}

Box UnifiedPi::ellBox(const EllParams& e) const {
  if (canvas < 2) return {0, 0, canvas, canvas};
  const double h = (canvas - 1) / 2.0;
  Box b;
  b.x0 = boxEdge(std::floor((e.cx - e.rx + 1.0) * h) - 1.0, 0, canvas);
  b.y0 = boxEdge(std::floor((e.cy - e.ry + 1.0) * h) - 1.0, 0, canvas);
  b.x1 = boxEdge(std::ceil((e.cx + e.rx + 1.0) * h) + 2.0, b.x0, canvas);
  b.y1 = boxEdge(std::ceil((e.cy + e.ry + 1.0) * h) + 2.0, b.y0, canvas);
  return b;
}

Box UnifiedPi::supportBox(const float* kp) const {
  const Box lip = ellBox(lipParams(kp));
  const Box gate = ellBox(gateParams(kp, nullptr));
  return {std::min(lip.x0, gate.x0), std::min(lip.y0, gate.y0), std::max(lip.x1, gate.x1),
          std::max(lip.y1, gate.y1)};
}

void UnifiedPi::piBytes(const float* kp, const Box& region, uint8_t* out) const {
  const EllParams lip = lipParams(kp);
  float gate = 0;
  const EllParams teeth = gateParams(kp, &gate);
  for (int32_t r = region.y0; r < region.y1; ++r) {
    uint8_t* row = out + static_cast<size_t>(r) * static_cast<size_t>(canvas);
    for (int32_t c = region.x0; c < region.x1; ++c) {
      row[c] = maskByte(std::max(ellValue(lip, xs[c], ys[r]), gate * ellValue(teeth, xs[c], ys[r])));
    }
  }
}

void UnifiedPi::piU8(const float* kp, uint8_t* out) const {
  piBytes(kp, {0, 0, canvas, canvas}, out);
}

void UnifiedPi::piU8Boxed(const float* kp, uint8_t* out) const {
  std::memset(out, 0, static_cast<size_t>(canvas) * static_cast<size_t>(canvas));
  piBytes(kp, supportBox(kp), out);
}

void UnifiedPi::piU8ShrunkBy(const float* kp, const float* limit, const Box& box, uint8_t* out) const {
  std::memset(out, 0, static_cast<size_t>(canvas) * static_cast<size_t>(canvas));
  const Box region = intersect(intersect(supportBox(kp), box), {0, 0, canvas, canvas});
  const EllParams lip = lipParams(kp);
  float gate = 0;
  const EllParams teeth = gateParams(kp, &gate);
  for (int32_t r = region.y0; r < region.y1; ++r) {
    const size_t rowStart = static_cast<size_t>(r) * static_cast<size_t>(canvas);
    for (int32_t c = region.x0; c < region.x1; ++c) {
      const float cap = limit[rowStart + static_cast<size_t>(c)];
      if (!(cap > 0.0f)) continue;
      const float pi = std::max(ellValue(lip, xs[c], ys[r]), gate * ellValue(teeth, xs[c], ys[r]));
      out[rowStart + static_cast<size_t>(c)] = maskByte(std::min(cap, pi));
    }
  }
}

bool maskCentroid(const uint8_t* mask, int32_t width, const Box& region, double* xOut, double* yOut) {
  int64_t count = 0;
  int64_t sumX = 0;
  int64_t sumY = 0;
  for (int32_t r = region.y0; r < region.y1; ++r) {
    const uint8_t* row = mask + static_cast<size_t>(r) * static_cast<size_t>(width);
    for (int32_t c = region.x0; c < region.x1; ++c) {
      if (row[c] < 128) continue;
      ++count;
      sumX += c;
      sumY += r;
    }
  }
  if (count == 0) return false;
  *xOut = static_cast<double>(sumX) / static_cast<double>(count);
  *yOut = static_cast<double>(sumY) / static_cast<double>(count);
  return true;
}

bool UnifiedPi::piU8Centroid(const uint8_t* mask, double* xOut, double* yOut) const {
  return piU8Centroid(mask, {0, 0, canvas, canvas}, xOut, yOut);
}

bool UnifiedPi::piU8Centroid(const uint8_t* mask, const Box& box, double* xOut, double* yOut) const {
  return maskCentroid(mask, canvas, intersect(box, {0, 0, canvas, canvas}), xOut, yOut);
}

bool UnifiedPi::piU8AndShift(const float* kp, const double cCanon[2], uint8_t* out, int* shiftYOut,
                             int* shiftXOut) const {
  piU8Boxed(kp, out);
  double cx = 0;
  double cy = 0;
  if (!piU8Centroid(out, supportBox(kp), &cx, &cy)) return false;
  *shiftYOut = roundToInt32(cy - cCanon[1]);
  *shiftXOut = roundToInt32(cx - cCanon[0]);
  return true;
}

void UnifiedPi::canonicalCentroid(const float* xsFrames, int nFrames, double* xOut, double* yOut) const {
  std::vector<uint8_t> mask(static_cast<size_t>(canvas) * static_cast<size_t>(canvas));
  double sumX = 0;
  double sumY = 0;
  int found = 0;
  for (int f = 0; f < nFrames; ++f) {
    piU8(xsFrames + static_cast<size_t>(f) * kKeypointFloats, mask.data());
    double cx = 0;
    double cy = 0;
    if (!piU8Centroid(mask.data(), &cx, &cy)) continue;
    sumX += cx;
    sumY += cy;
    ++found;
  }
  if (found == 0) {
    throw std::runtime_error(
        "teeth-pi: pi is empty on every source frame — cannot derive the canonical centroid this bundle's "
        "frame is identified by");
  }
  *xOut = sumX / found;
  *yOut = sumY / found;
}

}  // namespace ko::tessera
