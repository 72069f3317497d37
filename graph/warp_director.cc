// Four output pixels at a time: their taps, weights and corrections as one vector per quantity, each
// pixel's four records combined with one 4-lane vector per channel (f, fxx, fyy, fxxyy side by side),
// and the four pixels' combinations turned back into channel planes. The planes pass computes four
// pixels' records per channel and transposes them into place. Columns that do not fill a vector, and
// the border columns of the planes pass, repeat the same arithmetic one pixel at a time, so every
// target and every column gives the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "graph/warp_director.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "graph/warp_director.h"
#include "hwy/cache_control.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace ko::warp::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D4 = hn::FixedTag<float, 4>;
using DI4 = hn::FixedTag<int32_t, 4>;
using V4 = hn::Vec<D4>;
using Record = std::array<float, kWarpPlaneValues>;
constexpr size_t kGroup = 4;
constexpr size_t kAhead = 3;

// ---- one pixel at a time

// One axis of an output pixel's sampling: the two taps, their weights and the curvature factor.
struct AxisTaps {
  int32_t lo = 0, hi = 0;
  float wLo = 1.0f, wHi = 0.0f;
  float correction = 0.0f;
};

AxisTaps OneAxis(float g, int32_t size) {
  const float v = ((1.0f + g) * static_cast<float>(size) - 1.0f) * 0.5f;
  const float fraction = v - std::floor(v);
  AxisTaps taps;
  taps.correction = ((1.0f - fraction) * fraction) * 0.5f;
  // Written as "not at least 0" so that NaN takes the first tap too rather than becoming an index.
  if (!(v >= 0.0f)) return taps;
  const float clamped = std::min(v, static_cast<float>(size - 1));
  const float x0 = std::floor(clamped);
  const float weight = clamped - x0;
  taps.lo = static_cast<int32_t>(x0);
  taps.hi = std::min(taps.lo + 1, size - 1);
  taps.wLo = 1.0f - weight;
  taps.wHi = weight;
  return taps;
}

int32_t Before(int32_t i) {
  return i > 0 ? i - 1 : 0;
}

int32_t After(int32_t i, int32_t size) {
  return i + 1 < size ? i + 1 : size - 1;
}

// Rows y - 1, y and y + 1 of one channel plane, replicated at the image's top and bottom.
struct Rows {
  const float* up;
  const float* mid;
  const float* down;
};

Rows RowsAround(const float* plane, int32_t w, int32_t h, int32_t y) {
  const auto row = [&](int32_t r) { return plane + static_cast<size_t>(r) * static_cast<size_t>(w); };
  return {row(Before(y)), row(y), row(After(y, h))};
}

float VerticalSecond(const Rows& rows, int32_t x) {
  return (rows.up[x] - 2.0f * rows.mid[x]) + rows.down[x];
}

// f, fxx, fyy, fxxyy of pixel x of the middle row.
void Curvature(const Rows& rows, int32_t x, int32_t w, float* values) {
  const int32_t left = Before(x);
  const int32_t right = After(x, w);
  const float f = rows.mid[x];
  const float fyy = VerticalSecond(rows, x);
  values[0] = f;
  values[1] = (rows.mid[left] - 2.0f * f) + rows.mid[right];
  values[2] = fyy;
  values[3] = (VerticalSecond(rows, left) - 2.0f * fyy) + VerticalSecond(rows, right);
}

void RecordAt(const float* source, int32_t w, int32_t h, int32_t x, int32_t y, float* record) {
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (int32_t c = 0; c < kWarpChannels; ++c) {
    Curvature(RowsAround(source + static_cast<size_t>(c) * planeSize, w, h, y), x, w, record + 4 * c);
  }
}

// The four records of one output pixel: top left, top right, bottom left, bottom right.
using TapRecords = std::array<const float*, 4>;

void CombineOne(const AxisTaps& x, const AxisTaps& y, const TapRecords& t, float* out, size_t planeSize,
                size_t pixel) {
  const float w00 = x.wLo * y.wLo;
  const float w10 = x.wHi * y.wLo;
  const float w01 = x.wLo * y.wHi;
  const float w11 = x.wHi * y.wHi;
  Record m;
  for (size_t k = 0; k < m.size(); ++k) {
    m[k] = ((w00 * t[0][k] + w10 * t[1][k]) + w01 * t[2][k]) + w11 * t[3][k];
  }
  const float cxy = x.correction * y.correction;
  for (size_t c = 0; c < kWarpChannels; ++c) {
    const float* v = m.data() + 4 * c;
    out[c * planeSize + pixel] = ((v[0] - x.correction * v[1]) - y.correction * v[2]) + cxy * v[3];
  }
}

// ---- four pixels at a time

struct AxisGroup {
  hn::Vec<DI4> lo, hi;
  V4 wLo, wHi, correction;
};

AxisGroup GroupAxis(V4 g, int32_t size) {
  const D4 d;
  const DI4 di;
  const V4 one = hn::Set(d, 1.0f);
  const V4 half = hn::Set(d, 0.5f);
  const V4 v = hn::Mul(hn::Sub(hn::Mul(hn::Add(one, g), hn::Set(d, static_cast<float>(size))), one), half);
  const V4 fraction = hn::Sub(v, hn::Floor(v));
  AxisGroup a;
  a.correction = hn::Mul(hn::Mul(hn::Sub(one, fraction), fraction), half);
  // Lanes below 0 (or NaN) sample position 0 with weights 1 and 0, as OneAxis does.
  const auto inside = hn::Ge(v, hn::Zero(d));
  const V4 clamped = hn::IfThenElseZero(inside, hn::Min(v, hn::Set(d, static_cast<float>(size - 1))));
  const V4 x0 = hn::Floor(clamped);
  const V4 weight = hn::Sub(clamped, x0);
  a.lo = hn::ConvertTo(di, x0);
  a.hi = hn::IfThenElseZero(hn::RebindMask(di, inside),
                            hn::Min(hn::Add(a.lo, hn::Set(di, 1)), hn::Set(di, size - 1)));
  a.wLo = hn::Sub(one, weight);
  a.wHi = weight;
  return a;
}

// A group's axes as plain numbers, for addressing records one pixel at a time.
struct GroupTaps {
  alignas(16) int32_t xLo[kGroup], xHi[kGroup], yLo[kGroup], yHi[kGroup];
  alignas(16) float w00[kGroup], w10[kGroup], w01[kGroup], w11[kGroup];
  V4 cx, cy, cxy;
};

GroupTaps GroupTapsAt(const float* grid, int32_t w, int32_t h) {
  const D4 d;
  const DI4 di;
  V4 gx, gy;
  hn::LoadInterleaved2(d, grid, gx, gy);
  const AxisGroup x = GroupAxis(gx, w);
  const AxisGroup y = GroupAxis(gy, h);
  GroupTaps t;
  hn::Store(x.lo, di, t.xLo);
  hn::Store(x.hi, di, t.xHi);
  hn::Store(y.lo, di, t.yLo);
  hn::Store(y.hi, di, t.yHi);
  hn::Store(hn::Mul(x.wLo, y.wLo), d, t.w00);
  hn::Store(hn::Mul(x.wHi, y.wLo), d, t.w10);
  hn::Store(hn::Mul(x.wLo, y.wHi), d, t.w01);
  hn::Store(hn::Mul(x.wHi, y.wHi), d, t.w11);
  t.cx = x.correction;
  t.cy = y.correction;
  t.cxy = hn::Mul(x.correction, y.correction);
  return t;
}

// Output pixels [pixel, pixel + 4) from each pixel's four records.
void CombineGroup(const GroupTaps& t, const std::array<TapRecords, kGroup>& records, float* out,
                  size_t planeSize, size_t pixel) {
  const D4 d;
  // Per channel, the four pixels' (F, Fxx, Fyy, Fxxyy) one after another.
  alignas(16) float mixed[kWarpChannels][kGroup * 4];
  for (size_t j = 0; j < kGroup; ++j) {
    const TapRecords& r = records[j];
    const V4 w00 = hn::Set(d, t.w00[j]), w10 = hn::Set(d, t.w10[j]);
    const V4 w01 = hn::Set(d, t.w01[j]), w11 = hn::Set(d, t.w11[j]);
    for (size_t c = 0; c < kWarpChannels; ++c) {
      const size_t at = 4 * c;
      V4 m = hn::Mul(w00, hn::LoadU(d, r[0] + at));
      m = hn::Add(m, hn::Mul(w10, hn::LoadU(d, r[1] + at)));
      m = hn::Add(m, hn::Mul(w01, hn::LoadU(d, r[2] + at)));
      m = hn::Add(m, hn::Mul(w11, hn::LoadU(d, r[3] + at)));
      hn::Store(m, d, mixed[c] + 4 * j);
    }
  }
  for (size_t c = 0; c < kWarpChannels; ++c) {
    V4 f, fxx, fyy, fxxyy;
    hn::LoadInterleaved4(d, mixed[c], f, fxx, fyy, fxxyy);
    const V4 value =
        hn::Add(hn::Sub(hn::Sub(f, hn::Mul(t.cx, fxx)), hn::Mul(t.cy, fyy)), hn::Mul(t.cxy, fxxyy));
    hn::StoreU(value, d, out + c * planeSize + pixel);
  }
}

// Calls group(q) for every full group of output columns of each row in the band and single(q) for the
// rest; q is the pixel index.
template <class Group, class Single>
void ForBandColumns(int32_t w, int32_t h, int32_t rowBegin, int32_t rowEnd, Group&& group, Single&& single) {
  const size_t width = static_cast<size_t>(w);
  for (int32_t r = std::max(rowBegin, 0); r < std::min(rowEnd, h); ++r) {
    const size_t rowStart = static_cast<size_t>(r) * width;
    size_t q = 0;
    for (; q + kGroup <= width; q += kGroup) group(rowStart + q);
    for (; q < width; ++q) single(rowStart + q);
  }
}

// A group of output pixels whose records are fetched while earlier groups are combined: with a warp's
// scattered taps the records are mostly outside the nearer caches.
struct PendingGroup {
  GroupTaps taps;
  std::array<TapRecords, kGroup> records;
};

void WarpGatherBand(const float* HWY_RESTRICT planes, const float* HWY_RESTRICT grid, float* HWY_RESTRICT out,
                    int32_t w, int32_t h, int32_t rowBegin, int32_t rowEnd) {
  const size_t width = static_cast<size_t>(w);
  const size_t planeSize = width * static_cast<size_t>(h);
  const auto record = [&](int32_t x, int32_t y) {
    return planes + (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * kWarpPlaneValues;
  };
  const auto fetch = [&](size_t pixel) {
    PendingGroup group{GroupTapsAt(grid + 2 * pixel, w, h), {}};
    const GroupTaps& t = group.taps;
    for (size_t j = 0; j < kGroup; ++j) {
      group.records[j] = {record(t.xLo[j], t.yLo[j]), record(t.xHi[j], t.yLo[j]), record(t.xLo[j], t.yHi[j]),
                          record(t.xHi[j], t.yHi[j])};
      for (const float* r : group.records[j]) {
        hwy::Prefetch(r);
        hwy::Prefetch(r + kWarpPlaneValues - 1);
      }
    }
    return group;
  };
  for (int32_t r = std::max(rowBegin, 0); r < std::min(rowEnd, h); ++r) {
    const size_t rowStart = static_cast<size_t>(r) * width;
    const size_t groups = width / kGroup;
    std::array<PendingGroup, kAhead> ring;
    for (size_t g = 0; g < std::min(groups, kAhead); ++g) ring[g] = fetch(rowStart + g * kGroup);
    for (size_t g = 0; g < groups; ++g) {
      const PendingGroup current = ring[g % kAhead];
      if (g + kAhead < groups) ring[g % kAhead] = fetch(rowStart + (g + kAhead) * kGroup);
      CombineGroup(current.taps, current.records, out, planeSize, rowStart + g * kGroup);
    }
    for (size_t pixel = rowStart + groups * kGroup; pixel < rowStart + width; ++pixel) {
      const AxisTaps x = OneAxis(grid[2 * pixel], w);
      const AxisTaps y = OneAxis(grid[2 * pixel + 1], h);
      CombineOne(x, y, {record(x.lo, y.lo), record(x.hi, y.lo), record(x.lo, y.hi), record(x.hi, y.hi)}, out,
                 planeSize, pixel);
    }
  }
}

void WarpFusedBand(const float* HWY_RESTRICT source, const float* HWY_RESTRICT grid, float* HWY_RESTRICT out,
                   int32_t w, int32_t h, int32_t rowBegin, int32_t rowEnd) {
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  // The records of one pixel's four taps, computed from the source on the spot.
  struct Neighbourhood {
    std::array<Record, 4> taps;
    TapRecords Compute(const float* source, int32_t w, int32_t h, int32_t xLo, int32_t xHi, int32_t yLo,
                       int32_t yHi) {
      RecordAt(source, w, h, xLo, yLo, taps[0].data());
      RecordAt(source, w, h, xHi, yLo, taps[1].data());
      RecordAt(source, w, h, xLo, yHi, taps[2].data());
      RecordAt(source, w, h, xHi, yHi, taps[3].data());
      return {taps[0].data(), taps[1].data(), taps[2].data(), taps[3].data()};
    }
  };
  ForBandColumns(
      w, h, rowBegin, rowEnd,
      [&](size_t pixel) {
        const GroupTaps t = GroupTapsAt(grid + 2 * pixel, w, h);
        std::array<Neighbourhood, kGroup> neighbourhoods;
        std::array<TapRecords, kGroup> records;
        for (size_t j = 0; j < kGroup; ++j) {
          records[j] = neighbourhoods[j].Compute(source, w, h, t.xLo[j], t.xHi[j], t.yLo[j], t.yHi[j]);
        }
        CombineGroup(t, records, out, planeSize, pixel);
      },
      [&](size_t pixel) {
        const AxisTaps x = OneAxis(grid[2 * pixel], w);
        const AxisTaps y = OneAxis(grid[2 * pixel + 1], h);
        Neighbourhood neighbourhood;
        CombineOne(x, y, neighbourhood.Compute(source, w, h, x.lo, x.hi, y.lo, y.hi), out, planeSize, pixel);
      });
}

// Records of pixels [x, x + 4) of one channel, x - 1 and x + 4 inside the row.
void CurvatureGroup(const Rows& rows, int32_t x, float* record) {
  const D4 d;
  const V4 two = hn::Set(d, 2.0f);
  const size_t at = static_cast<size_t>(x);
  const auto vertical = [&](size_t i) {
    return hn::Add(hn::Sub(hn::LoadU(d, rows.up + i), hn::Mul(two, hn::LoadU(d, rows.mid + i))),
                   hn::LoadU(d, rows.down + i));
  };
  const V4 f = hn::LoadU(d, rows.mid + at);
  const V4 fxx =
      hn::Add(hn::Sub(hn::LoadU(d, rows.mid + at - 1), hn::Mul(two, f)), hn::LoadU(d, rows.mid + at + 1));
  const V4 fyy = vertical(at);
  const V4 fxxyy = hn::Add(hn::Sub(vertical(at - 1), hn::Mul(two, fyy)), vertical(at + 1));
  // Transposed: one (f, fxx, fyy, fxxyy) per pixel.
  const V4 low01 = hn::InterleaveLower(d, f, fxx), low23 = hn::InterleaveLower(d, fyy, fxxyy);
  const V4 high01 = hn::InterleaveUpper(d, f, fxx), high23 = hn::InterleaveUpper(d, fyy, fxxyy);
  hn::StoreU(hn::ConcatLowerLower(d, low23, low01), d, record);
  hn::StoreU(hn::ConcatUpperUpper(d, low23, low01), d, record + kWarpPlaneValues);
  hn::StoreU(hn::ConcatLowerLower(d, high23, high01), d, record + 2 * kWarpPlaneValues);
  hn::StoreU(hn::ConcatUpperUpper(d, high23, high01), d, record + 3 * kWarpPlaneValues);
}

void WarpPlanesBand(const float* HWY_RESTRICT source, float* HWY_RESTRICT planes, int32_t w, int32_t h,
                    int32_t rowBegin, int32_t rowEnd) {
  if (w < 1) return;
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (int32_t y = std::max(rowBegin, 0); y < std::min(rowEnd, h); ++y) {
    float* row = planes + static_cast<size_t>(y) * static_cast<size_t>(w) * kWarpPlaneValues;
    const auto record = [&](int32_t x, int32_t c) {
      return row + static_cast<size_t>(x) * kWarpPlaneValues + 4 * c;
    };
    for (int32_t c = 0; c < kWarpChannels; ++c) {
      const Rows rows = RowsAround(source + static_cast<size_t>(c) * planeSize, w, h, y);
      // Column 0 and the last column read replicated neighbours; the vector body reads x - 1 .. x + 4.
      int32_t x = 0;
      Curvature(rows, x++, w, record(0, c));
      for (; x + static_cast<int32_t>(kGroup) < w; x += static_cast<int32_t>(kGroup)) {
        CurvatureGroup(rows, x, record(x, c));
      }
      for (; x < w; ++x) Curvature(rows, x, w, record(x, c));
    }
  }
}

const char* WarpBodyName() {
  return hwy::TargetName(HWY_TARGET);
}

}  // namespace ko::warp::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko {
namespace warp {
HWY_EXPORT(WarpGatherBand);
HWY_EXPORT(WarpFusedBand);
HWY_EXPORT(WarpPlanesBand);
HWY_EXPORT(WarpBodyName);
}  // namespace warp

void warpDirectorBand(const float* source, const float* grid, float* out, int32_t w, int32_t h,
                      int32_t rowBegin, int32_t rowEnd) {
  using namespace warp;  // the dispatch table lives beside the per-target code
  HWY_DYNAMIC_DISPATCH(WarpFusedBand)(source, grid, out, w, h, rowBegin, rowEnd);
}

void warpDirector(const float* source, const float* grid, float* out, int32_t w, int32_t h) {
  warpDirectorBand(source, grid, out, w, h, 0, h);
}

void warpDirectorPlanesBand(const float* source, float* planes, int32_t w, int32_t h, int32_t rowBegin,
                            int32_t rowEnd) {
  using namespace warp;
  HWY_DYNAMIC_DISPATCH(WarpPlanesBand)(source, planes, w, h, rowBegin, rowEnd);
}

void warpDirectorGatherBand(const float* planes, const float* grid, float* out, int32_t w, int32_t h,
                            int32_t rowBegin, int32_t rowEnd) {
  using namespace warp;
  HWY_DYNAMIC_DISPATCH(WarpGatherBand)(planes, grid, out, w, h, rowBegin, rowEnd);
}

const char* warpBody() {
  using namespace warp;
  return HWY_DYNAMIC_DISPATCH(WarpBodyName)();
}

}  // namespace ko
#endif
