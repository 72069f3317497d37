// The pass's construction and its frame-to-frame logic: push and flush with one frame of latency,
// and the emit that picks the candidates, blends them and writes the window.
#include "tessera/teeth_pass.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "pool/pool.h"
#include "tessera/pixel_math.h"
#include "tessera/planes.h"

namespace ko::tessera {
namespace {

constexpr uint64_t kQueryRowGrain = 8;
constexpr uint64_t kOutputRowGrain = 4;
constexpr int32_t kMaxCandidates = 1024;

size_t area(int32_t h, int32_t w) {
  return static_cast<size_t>(h) * static_cast<size_t>(w);
}

// Checks what the pass's members are built from, in the order a bank is read.
const GeometryStamp& checkedStamp(const BankData& bank, const ServeConfig& config) {
  const GeometryStamp& s = bank.stamp;
  s.validate();
  if (s.window_h % 2 != 0 || s.window_w % 2 != 0) {
    throw std::runtime_error(
        "teeth: stamp window " + std::to_string(s.window_h) + "x" + std::to_string(s.window_w) +
        " has an odd side \xe2\x80\x94 the blend head works at half size and needs even sides");
  }
  if (bank.n_donors < 1) {
    throw std::runtime_error("teeth: the bank holds no donors (n_donors=" + std::to_string(bank.n_donors) +
                             ")");
  }
  const uint64_t storedH =
      static_cast<uint64_t>(s.band_r1 - s.band_r0 + 2 * static_cast<int64_t>(s.shift_margin));
  const uint64_t storedW =
      static_cast<uint64_t>(s.band_c1 - s.band_c0 + 2 * static_cast<int64_t>(s.shift_margin));
  const uint64_t expected = storedH * static_cast<uint64_t>(bank.n_donors) * storedW * 3;
  if (bank.bands.size() != expected) {
    throw std::runtime_error(
        "teeth: reference track is " + std::to_string(bank.bands.size()) + " bytes, the stamp requires " +
        std::to_string(expected) +
        " (n * stored_h * stored_w * 3) \xe2\x80\x94 a decoder that delivered a different pixel "
        "format would land here");
  }
  const size_t n = static_cast<size_t>(bank.n_donors);
  if (bank.aperture.size() != n || bank.cent.size() != 2 * n) {
    throw std::runtime_error("teeth: bank sidecar arrays disagree with n_donors");
  }
  if (config.K < 1 || config.K > kMaxCandidates || config.kshort < 1) {
    throw std::runtime_error("teeth: serving config K=" + std::to_string(config.K) + ", kshort=" +
                             std::to_string(config.kshort) + " leaves no candidate to blend (K must be 1.." +
                             std::to_string(kMaxCandidates) + ", kshort at least 1)");
  }
  return s;
}

// Each donor's mouth offset from the canonical centre, one axis (0 for x, 1 for y).
std::vector<int32_t> offsets(const BankData& bank, size_t axis) {
  std::vector<int32_t> out(static_cast<size_t>(bank.n_donors));
  for (size_t d = 0; d < out.size(); ++d) out[d] = roundToInt32(bank.cent[2 * d + axis] - bank.c_canon[axis]);
  return out;
}

bool contains(const std::vector<int32_t>& set, int32_t donor) {
  return std::find(set.begin(), set.end(), donor) != set.end();
}

std::vector<int32_t> firstOf(const std::vector<int32_t>& list, int32_t count) {
  const size_t n = std::min(list.size(), static_cast<size_t>(std::max(count, 0)));
  return {list.begin(), list.begin() + static_cast<ptrdiff_t>(n)};
}

}  // namespace

TeethPass::TeethPass(const BankData& bank, const HeadWeights& weights, const ServeConfig& config)
    : stamp_(checkedStamp(bank, config)),
      config_(config),
      weights_(weights),
      nDonors_(bank.n_donors),
      aperture_(bank.aperture),
      cCanon_{bank.c_canon[0], bank.c_canon[1]},
      donors_(bank.stamp, bank.bands, offsets(bank, 1), offsets(bank, 0)),
      H_(stamp_.window_h),
      W_(stamp_.window_w),
      Hp_(H_ / 4),
      Wp_(W_ / 4),
      bandMask_(area(H_, W_), 0) {
  for (int32_t r = stamp_.band_r0; r < stamp_.band_r1; ++r) {
    std::fill_n(bandMask_.begin() + static_cast<ptrdiff_t>(area(r, W_) + static_cast<size_t>(stamp_.band_c0)),
                stamp_.band_c1 - stamp_.band_c0, 1);
  }
  buildIndex();
}

bool TeethPass::push(int32_t frame, const uint8_t* crop, const uint8_t* pi, const FrameShift* shift,
                     FrameResult& result) {
  Pending next;
  next.frame = frame;
  const size_t pixels = area(stamp_.canvas_h, stamp_.canvas_w);
  next.crop.assign(crop, crop + pixels * 3);
  next.pi.assign(pi, pi + pixels);
  next.ok = deriveShift(pi, shift, next.shift, next.reason);
  if (next.ok) next.list = retrieve(retrievePrepare(crop, pi, next.shift)).selected;
  const bool emitted = holding_;
  if (holding_) emit(pending_, next.ok ? &next.list : nullptr, result);
  pending_ = std::move(next);
  holding_ = true;
  return emitted;
}

bool TeethPass::flush(FrameResult& result) {
  if (!holding_) return false;
  emit(pending_, nullptr, result);
  holding_ = false;
  pending_ = Pending();
  return true;
}

std::vector<int32_t> TeethPass::candidateSet(int32_t frame, const std::vector<int32_t>& list,
                                             const std::vector<int32_t>* nextList) const {
  const std::vector<int32_t> cur = firstOf(list, config_.K);
  const std::vector<int32_t> nxt =
      nextList && config_.use_lookahead ? firstOf(*nextList, config_.lookahead) : std::vector<int32_t>();
  std::vector<int32_t> rest;
  for (int32_t donor : cur) {
    if (!contains(nxt, donor)) rest.push_back(donor);
  }
  std::vector<int32_t> set;
  if (previousSet_.empty() || static_cast<int64_t>(previousFrame_) != static_cast<int64_t>(frame) - 1) {
    set = nxt;
    set.insert(set.end(), rest.begin(), rest.end());
  } else {
    set = previousSet_;
    for (const std::vector<int32_t>* part : {&nxt, static_cast<const std::vector<int32_t>*>(&rest)}) {
      for (int32_t donor : *part) {
        if (!contains(set, donor)) set.push_back(donor);
      }
    }
  }
  if (set.size() > static_cast<size_t>(config_.K)) set.resize(static_cast<size_t>(config_.K));
  return set;
}

std::vector<uint8_t> TeethPass::validMask(const Pending& pending,
                                          const std::vector<int32_t>& candidates) const {
  std::vector<uint8_t> valid = bandMask_;
  std::vector<PatchOrigin> origins;
  for (int32_t donor : candidates)
    origins.push_back(donors_.origin(donor, pending.shift.sy, pending.shift.sx));
  // Above the band, the mouth may still open into rows a donor's stored patch reaches.
  for (int32_t r = 0; r < stamp_.band_r0; ++r) {
    const uint8_t* piRow = pending.pi.data() + area(stamp_.window_y0 + r, stamp_.canvas_w) + stamp_.window_x0;
    for (int32_t c = stamp_.band_c0; c < stamp_.band_c1; ++c) {
      if (piRow[c] == 0) continue;
      const bool sourced =
          std::all_of(origins.begin(), origins.end(), [&](PatchOrigin o) { return donors_.inside(o, r, c); });
      if (sourced) valid[area(r, W_) + static_cast<size_t>(c)] = 1;
    }
  }
  return valid;
}

std::vector<float> TeethPass::stampedQuery(const uint8_t* crop) const {
  const size_t pixels = area(H_, W_);
  std::vector<float> query(3 * pixels);
  pool::parallelRange(static_cast<uint64_t>(H_), kQueryRowGrain, [&](uint64_t begin, uint64_t end) {
    for (uint64_t r = begin; r < end; ++r) {
      const uint8_t* row = crop + (area(stamp_.window_y0 + static_cast<int32_t>(r), stamp_.canvas_w) +
                                   static_cast<size_t>(stamp_.window_x0)) *
                                      3;
      rgbToUnitPlanes(row, static_cast<size_t>(W_), pixels, query.data() + r * static_cast<size_t>(W_));
    }
  });
  return query;
}

void TeethPass::addStats(const float* synthesis, const std::vector<uint8_t>& valid, FrameResult& result) {
  int64_t count = 0;
  double sum = 0;
  float largest = 0;
  for (size_t i = 0; i < valid.size(); ++i) {
    if (!valid[i]) continue;
    largest = count == 0 ? synthesis[i] : std::max(largest, synthesis[i]);
    sum += synthesis[i];
    ++count;
  }
  if (count == 0) return;
  result.syn_mean = static_cast<float>(sum / static_cast<double>(count));
  result.syn_max = largest;
  ++stats_.frames;
  stats_.validPixels += count;
  stats_.synMeanSum += result.syn_mean;
  stats_.synMax = std::max(stats_.synMax, static_cast<double>(result.syn_max));
}

void TeethPass::keepMostUsed(const std::vector<int32_t>& candidates, const float* w, int32_t frame) {
  const size_t full = area(H_, W_);
  std::vector<double> usage(candidates.size());
  for (size_t k = 0; k < candidates.size(); ++k) {
    float sum = 0;
    for (size_t i = 0; i < full; ++i) sum += w[k * full + i];
    usage[k] = -sum;
  }
  std::vector<size_t> order(candidates.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&usage](size_t a, size_t b) { return usage[a] < usage[b]; });
  order.resize(std::min(order.size(), static_cast<size_t>(std::max(config_.hysteresis, 0))));
  previousSet_.clear();
  for (size_t k : order) previousSet_.push_back(candidates[k]);
  previousFrame_ = frame;
}

void TeethPass::writeOutput(const Pending& pending, const std::vector<float>& query,
                            const std::vector<float>& Y, FrameResult& result) const {
  const size_t pixels = area(H_, W_);
  result.window.assign(pixels * 3, 0);
  pool::parallelRange(static_cast<uint64_t>(H_), kOutputRowGrain, [&](uint64_t begin, uint64_t end) {
    for (uint64_t r = begin; r < end; ++r) {
      const uint8_t* piRow = pending.pi.data() +
                             area(stamp_.window_y0 + static_cast<int32_t>(r), stamp_.canvas_w) +
                             static_cast<size_t>(stamp_.window_x0);
      for (size_t c = 0; c < static_cast<size_t>(W_); ++c) {
        const size_t i = r * static_cast<size_t>(W_) + c;
        const float a = static_cast<float>(piRow[c]) / 255.0f;
        for (size_t ch = 0; ch < 3; ++ch) {
          const float mixed = (1.0f - a) * query[ch * pixels + i] + a * Y[ch * pixels + i];
          result.window[i * 3 + ch] = maskByte(mixed);
        }
      }
    }
  });
}

void TeethPass::emit(const Pending& pending, const std::vector<int32_t>* nextList, FrameResult& result) {
  result = FrameResult();
  if (!pending.ok) {
    result.skipped = true;
    result.reason = pending.reason;
    return;
  }
  const std::vector<int32_t> candidates = candidateSet(pending.frame, pending.list, nextList);
  const int32_t kc = static_cast<int32_t>(candidates.size());
  // A donor listed twice is gathered and convolved once.
  std::vector<int32_t> distinct;
  std::vector<int32_t> slots;
  for (int32_t donor : candidates) {
    const auto found = std::find(distinct.begin(), distinct.end(), donor);
    slots.push_back(static_cast<int32_t>(found - distinct.begin()));
    if (found == distinct.end()) distinct.push_back(donor);
  }
  gatherWindowsU8(distinct, pending.shift, emit_.windows);
  const std::vector<uint8_t> valid = validMask(pending, candidates);
  const std::vector<float> query = stampedQuery(pending.crop.data());
  const size_t full = area(H_, W_);
  emit_.Y.resize(3 * full);
  emit_.w.resize(static_cast<size_t>(kc + 1) * full);
  headForwardDistinct(emit_.windows.data(), static_cast<int32_t>(distinct.size()), slots, query.data(),
                      valid.data(), emit_.Y.data(), emit_.w.data());
  addStats(emit_.w.data() + static_cast<size_t>(kc) * full, valid, result);
  keepMostUsed(candidates, emit_.w.data(), pending.frame);
  writeOutput(pending, query, emit_.Y, result);
  result.n_chosen = kc;
}

}  // namespace ko::tessera
