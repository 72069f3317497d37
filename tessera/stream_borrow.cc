#include "tessera/stream_borrow.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "pool/pool.h"
#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

constexpr uint64_t kPixelGrain = 4096;

size_t area(int32_t n) {
  return static_cast<size_t>(n) * static_cast<size_t>(n);
}

const BankData& squareCanvas(const BankData& bank) {
  const GeometryStamp& s = bank.stamp;
  if (s.canvas_w != s.canvas_h) {
    throw std::runtime_error("teeth stream: non-square compose canvas " + std::to_string(s.canvas_w) + "x" +
                             std::to_string(s.canvas_h) + " \xe2\x80\x94 ko_core renders a square crop");
  }
  return bank;
}

std::optional<LipContour> deliveryMask(std::string_view lipTemplate, int32_t n) {
  if (lipTemplate.empty()) {
    std::fprintf(
        stderr,
        "[borrow] !!! delivery mask: ELLIPSE \xe2\x80\x94 this bundle carries no %s, so it serves the "
        "over-covering elliptical mask the contour replaces. BACKFILL IT: "
        "models/velmora-2/tools/bake_lip_templates\n",
        "lip_template.v1.json");
    return std::nullopt;
  }
  LipContour contour = LipContour::fromTemplateJson(lipTemplate, n);
  std::fprintf(
      stderr,
      "[borrow] delivery mask: LIP CONTOUR (%d verts, feather %.1f px) \xe2\x80\x94 the ellipse is not "
      "reachable in this session\n",
      contour.vertexCount(), static_cast<double>(contour.feather()));
  return contour;
}

void checkWindow(const FrameResult& result, const GeometryStamp& stamp) {
  const size_t expected = static_cast<size_t>(stamp.window_h) * static_cast<size_t>(stamp.window_w) * 3;
  if (result.window.size() == expected) return;
  throw std::runtime_error("teeth stream: window " + std::to_string(result.window.size()) +
                           " bytes does not match the stamp window " + std::to_string(stamp.window_h) + "x" +
                           std::to_string(stamp.window_w) + " \xe2\x80\x94 refusing to write back");
}

// Calls apply(crop index, window index) for every pixel of the stamp's window.
template <class Apply>
void forWindowPixels(int32_t n, const GeometryStamp& stamp, Apply&& apply) {
  for (int32_t r = 0; r < stamp.window_h; ++r) {
    for (int32_t c = 0; c < stamp.window_w; ++c) {
      const size_t at = static_cast<size_t>(stamp.window_y0 + r) * static_cast<size_t>(n) +
                        static_cast<size_t>(stamp.window_x0 + c);
      apply(at, static_cast<size_t>(r) * static_cast<size_t>(stamp.window_w) + static_cast<size_t>(c));
    }
  }
}

// The crop value moved by the window's change against the byte the pass was given for it.
float withDelta(float x, uint8_t windowByte) {
  if (std::isnan(x)) x = 0.0f;
  const float seen = static_cast<float>(maskByte(x)) / 255.0f;
  return std::clamp(x + static_cast<float>(windowByte) / 255.0f - seen, 0.0f, 1.0f);
}

}  // namespace

StreamBorrow::StreamBorrow(const BankData& bank, const HeadWeights& weights, const ServeConfig& config,
                           const UnifiedPi& unifiedPi, std::string_view lipTemplate)
    : pass_(bank, weights, config),
      unifiedPi_(unifiedPi),
      cCanon_{bank.c_canon[0], bank.c_canon[1]},
      n_(squareCanvas(bank).stamp.canvas_w) {
  if (unifiedPi_.canvas != n_) {
    throw std::runtime_error("teeth stream: manifest pi canvas " + std::to_string(unifiedPi_.canvas) +
                             " != bank compose canvas " + std::to_string(n_) +
                             " \xe2\x80\x94 refusing to compose a mouth on a canvas the stamp does not name");
  }
  lipContour_ = deliveryMask(lipTemplate, n_);
  crop_.assign(area(n_) * 3, 0);
  mask_.assign(area(n_), 0);
}

bool StreamBorrow::push(const float* cropPlanes, const float* keypoints, FrameResult& result) {
  const size_t pixels = area(n_);
  for (size_t ch = 0; ch < 3; ++ch) {
    const float* plane = cropPlanes + ch * pixels;
    pool::parallelRange(pixels, kPixelGrain, [&](uint64_t begin, uint64_t end) {
      for (uint64_t i = begin; i < end; ++i) crop_[i * 3 + ch] = maskByte(plane[i]);
    });
  }
  return pushSynth(keypoints, result);
}

bool StreamBorrow::pushRgba(const uint8_t* rgba, const float* keypoints, FrameResult& result) {
  for (size_t i = 0; i < area(n_); ++i)
    std::copy_n(rgba + i * 4, 3, crop_.begin() + static_cast<ptrdiff_t>(i * 3));
  return pushSynth(keypoints, result);
}

bool StreamBorrow::pushSynth(const float* keypoints, FrameResult& result) {
  int shiftY = 0;
  int shiftX = 0;
  const bool found =
      lipContour_
          ? lipContour_->deliveredU8AndShift(keypoints, unifiedPi_, cCanon_, mask_.data(), &shiftY, &shiftX)
          : unifiedPi_.piU8AndShift(keypoints, cCanon_, mask_.data(), &shiftY, &shiftX);
  const FrameShift shift{shiftY, shiftX};
  const bool emitted = pass_.push(frame_, crop_.data(), mask_.data(), found ? &shift : nullptr, result);
  ++frame_;
  return emitted;
}

bool StreamBorrow::flush(FrameResult& result) {
  return pass_.flush(result);
}

void StreamBorrow::writeWindowDelta(float* cropPlanes, int32_t n, const FrameResult& result,
                                    const GeometryStamp& stamp) {
  if (result.skipped) return;
  checkWindow(result, stamp);
  for (size_t ch = 0; ch < 3; ++ch) {
    float* plane = cropPlanes + ch * area(n);
    forWindowPixels(
        n, stamp, [&](size_t at, size_t i) { plane[at] = withDelta(plane[at], result.window[i * 3 + ch]); });
  }
}

void StreamBorrow::writeWindowDeltaRgba(uint8_t* rgba, int32_t n, const FrameResult& result,
                                        const GeometryStamp& stamp) {
  for (size_t i = 0; i < area(n); ++i) rgba[i * 4 + 3] = 255;
  if (result.skipped) return;
  checkWindow(result, stamp);
  forWindowPixels(n, stamp, [&](size_t at, size_t i) {
    for (size_t ch = 0; ch < 3; ++ch) {
      uint8_t& byte = rgba[at * 4 + ch];
      const float v = withDelta(static_cast<float>(byte) / 255.0f, result.window[i * 3 + ch]);
      byte = static_cast<uint8_t>(std::rint(v * 255.0f));
    }
  });
}

bool StreamBorrow::hostSplit(std::string*) const {
  return false;
}

}  // namespace ko::tessera
