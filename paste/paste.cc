#include "paste/paste.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "pool/pool.h"
#include "paste/paste_tables.h"
#include "paste/plane_sampling.h"
#include "pool/pool.h"
#include "simd/simd.h"

namespace ko {
namespace {

constexpr uint64_t kGrain = 64;
constexpr int32_t kMaxSide = 1024;
constexpr double kFixedOne = 1024.0;
// Adding half a phase step moves a 10-bit position to the nearest of the 32 phases.
constexpr int32_t kHalfPhase = 16;
// Far enough outside any crop to be skipped, small enough that a column part plus a row part never
// overflows: near-singular transforms give inverse maps far beyond the crop.
constexpr double kFixedLimit = 1 << 29;
// The crop grown by the Lanczos filter's reach.
constexpr float kReachBefore = -4.0f;
constexpr float kReachAfter = 3.0f;

PasteSampling samplingFromEnv() {
  const std::optional<int64_t> mode = envInteger("KO_PASTE_FAST");
  if (mode == 1) return PasteSampling::bicubic;
  if (mode == 2) return PasteSampling::bilinear;
  return PasteSampling::lanczos;
}

// The environment may only shrink the Gaussian, never widen it past what the manifest asked for.
int32_t kernelSize(int32_t manifestKsize) {
  const std::optional<int64_t> size = envInteger("KO_PASTE_KSIZE");
  if (size && *size > 2 && *size % 2 == 1 && *size <= manifestKsize) return static_cast<int32_t>(*size);
  return manifestKsize;
}

int32_t checkedSide(const std::vector<uint8_t>& mask, int32_t side) {
  if (side < 1) throw std::runtime_error("paste: side must be positive");
  if (mask.size() != static_cast<size_t>(side) * static_cast<size_t>(side)) {
    throw std::runtime_error("paste: mask size");
  }
  return side;
}

Unsharp checkedUnsharp(const Unsharp& unsharp) {
  if (unsharp.ksize % 2 == 0) throw std::runtime_error("paste: ksize must be odd");
  if (unsharp.ksize < 1) throw std::runtime_error("paste: ksize must be positive");
  if (!(unsharp.sigma > 0.0f)) throw std::runtime_error("paste: sigma must be positive");
  return unsharp;
}

// Mirrors without repeating the edge sample, folding again for kernels wider than the crop.
int32_t reflect(int32_t i, int32_t size) {
  if (size == 1) return 0;
  const int32_t period = 2 * (size - 1);
  i %= period;
  if (i < 0) i += period;
  return i < size ? i : period - i;
}

int32_t fixedPoint(double crop) {
  const double scaled = std::rint(kFixedOne * crop);
  if (!(scaled > -kFixedLimit)) return static_cast<int32_t>(-kFixedLimit);
  return static_cast<int32_t>(std::min(scaled, kFixedLimit));
}

void printExecutorOnce(int32_t side, int32_t ksize) {
  static std::once_flag printed;
  std::call_once(printed, [&] {
    std::fprintf(stderr, "[ko-paste] executor=%s (side=%d, ksize=%d, threads=%d) — 1080p frame\n", "cpu",
                 side, ksize, pool::threads());
  });
}

struct Box {
  int32_t x0, x1, y0, y1;
};

// The frame pixels the crop (grown by the filter reach) can reach; false when none.
bool frameBox(const float* M, int32_t side, int32_t W, int32_t H, Box& box) {
  const float a = M[0], b = M[1], c = M[2], d = M[3], e = M[4], f = M[5];
  const float lo = kReachBefore, hi = static_cast<float>(side) + kReachAfter;
  const float xs[4] = {lo, hi, lo, hi}, ys[4] = {lo, lo, hi, hi};
  float minX = a * xs[0] + b * ys[0] + c, maxX = minX, minY = d * xs[0] + e * ys[0] + f, maxY = minY;
  for (int i = 1; i < 4; ++i) {
    const float X = a * xs[i] + b * ys[i] + c, Y = d * xs[i] + e * ys[i] + f;
    minX = std::min(minX, X), maxX = std::max(maxX, X), minY = std::min(minY, Y), maxY = std::max(maxY, Y);
  }
  const double x0 = std::max(0.0, std::floor(static_cast<double>(minX)));
  const double x1 = std::min(W - 1.0, std::ceil(static_cast<double>(maxX)));
  const double y0 = std::max(0.0, std::floor(static_cast<double>(minY)));
  const double y1 = std::min(H - 1.0, std::ceil(static_cast<double>(maxY)));
  if (!(x1 >= x0 && y1 >= y0)) return false;
  box = {static_cast<int32_t>(x0), static_cast<int32_t>(x1), static_cast<int32_t>(y0),
         static_cast<int32_t>(y1)};
  return true;
}

// The positions [first, end) of `col` whose fixed-point crop coordinate col[k] + offset has its
// integer part in [-1, side): the paste skips every other pixel. col holds rounded multiples of the
// column, so it is monotonic and those positions form one run.
std::pair<int32_t, int32_t> insideRun(const int32_t* col, int32_t count, int32_t offset, int32_t side) {
  const auto one = static_cast<int64_t>(kFixedOne);
  const int64_t low = -one - offset, high = side * one - 1 - offset;
  const auto less = [](int64_t a, int64_t b) { return a < b; };
  const auto greater = [](int64_t a, int64_t b) { return a > b; };
  const int32_t* end = col + count;
  const auto at = [col](const int32_t* p) { return static_cast<int32_t>(p - col); };
  if (col[0] <= end[-1]) {
    return {at(std::lower_bound(col, end, low, less)), at(std::upper_bound(col, end, high, less))};
  }
  return {at(std::lower_bound(col, end, high, greater)), at(std::upper_bound(col, end, low, greater))};
}

}  // namespace

Paste::Paste(std::vector<uint8_t> mask, int32_t side, Unsharp unsharp)
    : side_(checkedSide(mask, side)),
      ksize_(kernelSize(checkedUnsharp(unsharp).ksize)),
      padded_(side + ksize_ - 1),
      amount_(unsharp.amount),
      sampling_(samplingFromEnv()),
      mask_(std::move(mask)),
      paddedMask_(paddedPasteMask(mask_, side_)),
      // Crops wider than kMaxSide are refused before any sampling, and their sums could overflow.
      maskSums_(side_ > kMaxSide ? std::vector<int32_t>{} : pasteMaskSums(paddedMask_, side_)),
      gauss_(gaussianTaps(ksize_, unsharp.sigma)),
      lanczos_(lanczosTable()),
      bilinear_(bilinearTable()),
      cubic_(cubicTable()) {
  const size_t plane = static_cast<size_t>(side) * side, paddedPlane = static_cast<size_t>(padded_) * padded_;
  for (std::vector<float>& p : planes_) p.assign(plane, 0.0f);
  tmp_.assign(3 * paddedPlane, 0.0f);
  rowPairs_.assign(plane * 8, 0.0f);
}

void Paste::composite(const float* crop, float scale, const float* M, uint8_t* frame, int32_t W, int32_t H) {
  const double a = M[0], b = M[1], c = M[2], d = M[3], e = M[4], f = M[5];
  const double det = e * a - b * d;
  // A non-finite transform places the crop nowhere, like a singular one.
  if (det == 0.0 || !std::isfinite(det) || !std::isfinite(c) || !std::isfinite(f)) return;
  Box box;
  if (W < 1 || H < 1 || !frameBox(M, side_, W, H, box)) return;
  const double colCoefX = e / det, colCoefY = -d / det;
  colX_.resize(static_cast<size_t>(box.x1 - box.x0) + 1);
  colY_.resize(colX_.size());
  for (int32_t X = box.x0; X <= box.x1; ++X) {
    colX_[X - box.x0] = fixedPoint(X * colCoefX);
    colY_[X - box.x0] = fixedPoint(X * colCoefY);
  }
  printExecutorOnce(side_, ksize_);
  const size_t plane = static_cast<size_t>(side_) * side_;
  const float* const sources[3] = {crop, crop + plane, crop + 2 * plane};
  blurRows(sources, scale, true);
  sharpen();
  compositeTail(frame, W, box.x0, box.x1, box.y0, box.y1, -b / det, a / det, (b * f - c * e) / det,
                (c * d - a * f) / det);
}

bool Paste::compositeGpuRgba(const float*, float, const float*, uint8_t*, int32_t, int32_t) {
  return false;
}

void Paste::fillPlanes(const float* crop, float scale) {
  const size_t side = static_cast<size_t>(side_);
  pool::parallelRange(3 * side, kGrain, [&](uint64_t begin, uint64_t end) {
    for (size_t row = begin; row < end; ++row) {
      float* out = planes_[row / side].data() + (row % side) * side;
      const float* in = crop + row * side;
      for (size_t x = 0; x < side; ++x) out[x] = scale * in[x];
    }
  });
}

void Paste::unsharpPlanes() {
  const float* const sources[3] = {planes_[0].data(), planes_[1].data(), planes_[2].data()};
  blurRows(sources, 1.0f, false);
  sharpen();
}

// Row pr of the horizontal blur of plane c filters the padded row reflect(pr - r) of sources[c]
// times scale, built in a scratch row that stays in cache; positions [side, P) of a blurred row are
// never written, as the vertical pass never reads them. With `fill`, the padded rows inside the
// border (each source row is one exactly once) also store their middle as the plane that the
// vertical pass sharpens in place, so composite reads the crop once.
void Paste::blurRows(const float* const* sources, float scale, bool fill) {
  const int32_t r = ksize_ / 2, P = padded_, side = side_;
  pool::parallelRange(3 * static_cast<uint64_t>(P), kGrain, [&](uint64_t begin, uint64_t end) {
    std::vector<float> row(static_cast<size_t>(P));
    for (uint64_t padRow = begin; padRow < end; ++padRow) {
      const auto pr = static_cast<int32_t>(padRow % P), c = static_cast<int32_t>(padRow / P);
      const int32_t y = reflect(pr - r, side);
      const float* source = sources[c] + static_cast<size_t>(y) * side;
      for (int32_t q = 0; q < r; ++q) row[q] = scale * source[reflect(q - r, side)];
      for (int32_t x = 0; x < side; ++x) row[r + x] = scale * source[x];
      for (int32_t q = r + side; q < P; ++q) row[q] = scale * source[reflect(q - r, side)];
      if (fill && y == pr - r)
        std::copy_n(row.data() + r, side, planes_[c].data() + static_cast<size_t>(y) * side);
      simd::gaussTapsRange(row.data(), gauss_.data(), ksize_, 0, static_cast<size_t>(side),
                           tmp_.data() + padRow * P);
    }
  });
}

// The vertical pass covers all three planes in one pool call and, for Lanczos, also lays out the
// row pairs while the rows are in cache.
void Paste::sharpen() {
  const int32_t P = padded_, side = side_;
  const size_t paddedPlane = static_cast<size_t>(P) * P;
  if (side > kMaxSide) throw std::runtime_error("paste: side > 1024");
  const bool pairs = sampling_ == PasteSampling::lanczos;
  const auto rows = static_cast<uint64_t>(side);
  pool::parallelRange(rows, kGrain, [&](uint64_t begin, uint64_t end) {
    for (uint64_t y = begin; y < end; ++y) {
      for (size_t c = 0; c < 3; ++c) {
        simd::sharpenRow(tmp_.data() + c * paddedPlane + y * P, static_cast<size_t>(P), gauss_.data(), ksize_,
                         side, amount_, planes_[c].data() + y * side);
      }
      if (pairs && y > begin) layRowPairs(y - 1, y);
    }
  });
  if (!pairs) return;
  // The last row of each part pairs with the first row of the next one.
  const int32_t parts = pool::parts(rows, kGrain);
  for (int32_t k = 0; k < parts; ++k) {
    const pool::Range part = pool::partRange(rows, parts, k);
    if (part.end > part.begin) layRowPairs(part.end - 1, part.end);
  }
}

// Below the last row the second half of an entry keeps its zeros from construction.
void Paste::layRowPairs(uint64_t begin, uint64_t end) {
  simd::planesToRowPairs(planes_[0].data(), planes_[1].data(), planes_[2].data(), side_, begin, end,
                         rowPairs_.data());
}

void Paste::compositeTail(uint8_t* frame, int32_t W, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                          double rowX, double rowY, double constX, double constY) {
  const float* const planes[3] = {planes_[0].data(), planes_[1].data(), planes_[2].data()};
  const PlaneFootprint footprint = sampling_ == PasteSampling::bicubic
                                       ? PlaneFootprint{cubic_.data(), 4, -1}
                                       : PlaneFootprint{bilinear_.data(), 2, 0};
  const int32_t columns = x1 - x0 + 1;
  if (columns < 1) return;
  const auto rows = static_cast<uint64_t>(y1 - y0 + 1);
  pool::parallelRange(rows, kGrain, [&](uint64_t begin, uint64_t end) {
    for (auto Y = static_cast<int32_t>(y0 + begin); Y < static_cast<int32_t>(y0 + end); ++Y) {
      const int32_t xrow = fixedPoint(Y * rowX + constX) + kHalfPhase;
      const int32_t yrow = fixedPoint(Y * rowY + constY) + kHalfPhase;
      const auto [xFirst, xEnd] = insideRun(colX_.data(), columns, xrow, side_);
      const auto [yFirst, yEnd] = insideRun(colY_.data(), columns, yrow, side_);
      const int32_t k = std::max(xFirst, yFirst), stop = std::min(xEnd, yEnd);
      if (k >= stop) continue;
      uint8_t* row = frame + 3 * static_cast<size_t>(W) * static_cast<size_t>(Y);
      const int32_t first = x0 + k, last = x0 + stop - 1;
      if (sampling_ == PasteSampling::lanczos) {
        simd::pasteLanczos8RowPairs(rowPairs_.data(), side_, paddedMask_.data(), maskSums_.data(),
                                    lanczos_.data(), colX_.data() + k, colY_.data() + k, xrow, yrow, first,
                                    last, row);
      } else {
        pastePlanesRow(footprint, planes, side_, mask_.data(), bilinear_.data(), colX_.data() + k,
                       colY_.data() + k, xrow, yrow, first, last, row);
      }
    }
  });
}

}  // namespace ko
