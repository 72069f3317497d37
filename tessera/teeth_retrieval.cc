// Retrieval: the frame's shift and teeth region, the pooled donor index scored against it, exact
// scores over a shortlist, and the aperture rule that picks the candidates.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "pool/pool.h"
#include "simd/half.h"
#include "simd/simd.h"
#include "tessera/pixel_math.h"
#include "tessera/planes.h"
#include "tessera/teeth_pass.h"
#include "tessera/unified_pi.h"

namespace ko::tessera {
namespace {

size_t area(int32_t h, int32_t w) {
  return static_cast<size_t>(h) * static_cast<size_t>(w);
}

float widenedHalf(float value) {
  return half_bits::toFloat(f32ToF16(value));
}

// Ascending by score; equal scores keep their order.
std::vector<int32_t> stableOrder(const std::vector<float>& scores) {
  std::vector<int32_t> order(scores.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&scores](int32_t a, int32_t b) {
    return scores[static_cast<size_t>(a)] < scores[static_cast<size_t>(b)];
  });
  return order;
}

std::vector<uint16_t> pooledHalves(const float* planes, int32_t count, int32_t h, int32_t w) {
  const size_t pooledArea = area(h / 4, w / 4);
  std::vector<float> pooled(pooledArea * static_cast<size_t>(count));
  for (int32_t p = 0; p < count; ++p)
    averagePool(planes + area(h, w) * p, h, w, 4, pooled.data() + pooledArea * p);
  std::vector<uint16_t> halves(pooled.size());
  simd::f32ToF16(pooled.data(), halves.data(), pooled.size());
  return halves;
}

}  // namespace

void TeethPass::canonicalWindowF16Rows(int32_t donor, uint16_t* out, int32_t rowBegin, int32_t rowEnd) const {
  std::vector<uint8_t> row(static_cast<size_t>(W_) * 3);
  const PatchOrigin origin = donors_.origin(donor, 0, 0);
  for (int32_t r = rowBegin; r < rowEnd; ++r) {
    donors_.windowRow(donor, origin, r, row.data());
    simd::rgb8ToPlanarF16(row.data(), out + area(r, W_), area(H_, W_), static_cast<size_t>(W_));
  }
}

void TeethPass::canonicalWindowF16(int32_t donor, uint16_t* out) const {
  canonicalWindowF16Rows(donor, out, 0, H_);
}

void TeethPass::buildIndex() {
  const size_t perDonor = 3 * area(Hp_, Wp_);
  index_.assign(perDonor * static_cast<size_t>(nDonors_), 0);
  pool::parallelRange(static_cast<uint64_t>(nDonors_), 1, [&](uint64_t begin, uint64_t end) {
    std::vector<uint16_t> halves(3 * area(H_, W_));
    std::vector<float> planes(halves.size());
    for (uint64_t d = begin; d < end; ++d) {
      canonicalWindowF16(static_cast<int32_t>(d), halves.data());
      simd::f16ToF32(halves.data(), planes.data(), halves.size());
      const std::vector<uint16_t> pooled = pooledHalves(planes.data(), 3, H_, W_);
      std::copy(pooled.begin(), pooled.end(), index_.begin() + static_cast<ptrdiff_t>(perDonor * d));
    }
  });
}

bool TeethPass::deriveShift(const uint8_t* pi, const FrameShift* shift, FrameShift& out,
                            std::string& reason) const {
  if (shift) {
    out = *shift;
  } else {
    double cx = 0;
    double cy = 0;
    if (!maskCentroid(pi, stamp_.canvas_w, {0, 0, stamp_.canvas_w, stamp_.canvas_h}, &cx, &cy)) {
      reason = "empty-pi";
      return false;
    }
    out = {roundToInt32(cy - cCanon_[1]), roundToInt32(cx - cCanon_[0])};
  }
  if (std::abs(static_cast<int64_t>(out.sy)) > stamp_.pad ||
      std::abs(static_cast<int64_t>(out.sx)) > stamp_.pad) {
    reason = "shift-out-of-range";
    return false;
  }
  return true;
}

RetrievalQuery TeethPass::retrievePrepare(const uint8_t* crop, const uint8_t* pi, FrameShift shift) {
  const size_t pixels = area(H_, W_);
  RetrievalQuery query;
  query.window.assign(pixels * 3, 0);
  std::vector<uint8_t> windowPi(pixels, 0);
  // A shift within the pad may still carry the window past the crop's edge: that part reads as black
  // outside the mouth, so it never weighs in.
  const int32_t y0 = stamp_.window_y0 + shift.sy;
  const int32_t x0 = stamp_.window_x0 + shift.sx;
  for (int32_t r = 0; r < H_; ++r) {
    const int32_t y = y0 + r;
    if (y < 0 || y >= stamp_.canvas_h) continue;
    for (int32_t c = 0; c < W_; ++c) {
      const int32_t x = x0 + c;
      if (x < 0 || x >= stamp_.canvas_w) continue;
      const size_t at = area(y, stamp_.canvas_w) + static_cast<size_t>(x);
      const size_t i = area(r, W_) + static_cast<size_t>(c);
      std::copy_n(crop + at * 3, 3, query.window.begin() + static_cast<ptrdiff_t>(i * 3));
      windowPi[i] = pi[at];
    }
  }

  std::vector<float>& t = query.teeth;
  t.assign(pixels, 0.0f);
  const auto inMouth = [&windowPi](size_t i) { return static_cast<float>(windowPi[i]) / 255.0f > 0.5f; };
  float teethSum = 0;
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = &query.window[i * 3];
    const double luma = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
    const bool teeth = inMouth(i) && luma >= config_.luma_min && std::abs(p[1] - p[0]) < config_.chroma_max;
    t[i] = teeth ? 1.0f : 0.0f;
    teethSum += t[i];
  }
  if (teethSum < static_cast<float>(config_.min_teeth_px)) {
    for (size_t i = 0; i < pixels; ++i) t[i] = inMouth(i) ? 1.0f : 0.0f;
  }
  if (!previousTeeth_.empty()) {
    for (size_t i = 0; i < pixels; ++i)
      t[i] = std::max(t[i], static_cast<float>(config_.mask_decay * previousTeeth_[i]));
  }
  previousTeeth_ = t;

  float wsum = 0;
  query.r0 = H_;
  query.r1 = 0;
  for (int32_t r = 0; r < H_; ++r) {
    for (int32_t c = 0; c < W_; ++c) {
      const float v = t[area(r, W_) + static_cast<size_t>(c)];
      wsum += v;
      if (v == 0.0f) continue;
      query.r0 = std::min(query.r0, r);
      query.r1 = r + 1;
    }
  }
  if (query.r1 == 0) query.r0 = 0;
  query.wsum = std::max(1.0f, wsum);

  query.halves.resize(pixels * 3);
  simd::rgb8ToPlanarF16(query.window.data(), query.halves.data(), pixels, pixels);
  std::vector<float> planes(pixels * 3);
  rgbToUnitPlanes(query.window.data(), pixels, pixels, planes.data());
  query.pooledQuery = pooledHalves(planes.data(), 3, H_, W_);
  query.pooledWeights = pooledHalves(t.data(), 1, H_, W_);
  float wp = 0;
  for (uint16_t weight : query.pooledWeights) wp += half_bits::toFloat(weight);
  query.wp = std::max(0.0001f, wp);
  return query;
}

float TeethPass::exactTermFromBand(int32_t donor, const RetrievalQuery& query,
                                   std::vector<uint16_t>& donorHalves) const {
  const size_t pixels = area(H_, W_);
  donorHalves.resize(3 * pixels);
  canonicalWindowF16Rows(donor, donorHalves.data(), query.r0, query.r1);
  return simd::retrieveTermExactRange(donorHalves.data(), query.halves.data(), query.teeth.data(), pixels,
                                      area(query.r0, W_), area(query.r1, W_));
}

std::vector<int32_t> TeethPass::retrieveSelect(const std::vector<int32_t>& shortlist,
                                               const std::vector<float>& exact) const {
  const std::vector<int32_t> order = stableOrder(exact);
  const int32_t best = shortlist[static_cast<size_t>(order[0])];
  const double a0 = aperture_[static_cast<size_t>(best)];
  const double tolerance = std::max(1e-6, a0) * config_.aperture_tol;
  const size_t walked = std::min(static_cast<size_t>(std::max(config_.cut, 0)), order.size());
  std::vector<int32_t> kept;
  for (size_t i = 0; i < walked && kept.size() < static_cast<size_t>(config_.K); ++i) {
    const int32_t donor = shortlist[static_cast<size_t>(order[i])];
    if (std::fabs(aperture_[static_cast<size_t>(donor)] - a0) <= tolerance) kept.push_back(donor);
  }
  if (kept.empty()) kept.push_back(best);
  kept.resize(static_cast<size_t>(config_.K), kept.back());
  return kept;
}

Retrieval TeethPass::retrieve(const RetrievalQuery& query) const {
  Retrieval out;
  out.pooled.resize(static_cast<size_t>(nDonors_));
  const size_t perDonor = 3 * area(Hp_, Wp_);
  const size_t pooledArea = area(Hp_, Wp_);
  pool::parallelRange(static_cast<uint64_t>(nDonors_), 1, [&](uint64_t begin, uint64_t end) {
    for (uint64_t d = begin; d < end; ++d) {
      const float term = simd::retrieveTermPooled(index_.data() + perDonor * d, query.pooledQuery.data(),
                                                  query.pooledWeights.data(), pooledArea);
      out.pooled[d] = widenedHalf(term) / query.wp;
    }
  });
  out.shortlist = stableOrder(out.pooled);
  out.shortlist.resize(std::min(out.shortlist.size(), static_cast<size_t>(config_.kshort)));
  out.exact.resize(out.shortlist.size());
  pool::parallelRange(out.shortlist.size(), 1, [&](uint64_t begin, uint64_t end) {
    std::vector<uint16_t> donorHalves;
    for (uint64_t i = begin; i < end; ++i) {
      out.exact[i] = exactTermFromBand(out.shortlist[i], query, donorHalves) / query.wsum;
    }
  });
  out.selected = retrieveSelect(out.shortlist, out.exact);
  return out;
}

std::vector<float> TeethPass::gatherWindowsU8(const std::vector<int32_t>& donors, FrameShift shift) const {
  // Sized here rather than grown from empty by the overload: GCC's -O3 inlining of that growth into a
  // fresh vector reports a null dereference that cannot happen.
  std::vector<float> planes(donors.size() * 3 * area(H_, W_));
  gatherWindowsU8(donors, shift, planes);
  return planes;
}

void TeethPass::gatherWindowsU8(const std::vector<int32_t>& donors, FrameShift shift,
                                std::vector<float>& planes) const {
  const size_t pixels = area(H_, W_);
  planes.resize(donors.size() * 3 * pixels);
  pool::parallelRange(donors.size(), 1, [&](uint64_t begin, uint64_t end) {
    std::vector<uint8_t> window(pixels * 3);
    for (uint64_t k = begin; k < end; ++k) {
      const int32_t donor = donors[k];
      donors_.window(donor, donors_.origin(donor, shift.sy, shift.sx), window.data());
      rgbToUnitPlanes(window.data(), pixels, pixels, planes.data() + k * 3 * pixels);
    }
  });
}

}  // namespace ko::tessera
