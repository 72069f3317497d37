// The lip contour that replaces the over-covering compose ellipse: a canonical outline deformed per
// frame by the frame's keypoints (scaled to the lip anchors' spread, or through a fitted anchor-linear
// map), filled, feathered outward, and capped against pi into the delivered mask.
//
// One LipContour keeps scratch buffers between calls and serves one thread at a time.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tessera/contour_feather.h"
#include "tessera/polygon_fill.h"
#include "tessera/unified_pi.h"

namespace ko::tessera {

class LipContour {
 public:
  // `uCanon` holds nv (u, v) pairs; `lipIdx` the anchor keypoint rows (0..20). Throws
  // std::invalid_argument on a non-positive canvas or feather, no vertices, or no anchors.
  LipContour(int32_t canvas, float feather, const double* uCanon, int32_t nv, const int32_t* lipIdx,
             int32_t nIdx);

  // The anchor-linear map: W is rows x cols row-major, b has rows entries; rows = 2*nv and
  // cols = 2*nIdx with 1 <= nIdx <= 8. The map's anchors replace the template's.
  void attachMap(const double* W, const double* b, int32_t rows, int32_t cols, const int32_t* lipIdx,
                 int32_t nIdx);

  // Reads "lip_template.v1.json" for a compose canvas; throws with the reason.
  static LipContour fromTemplateJson(std::string_view text, int32_t canvas);

  // nv interleaved (x, y) pixel coordinates for one keypoint vector (63 floats).
  std::vector<float> polygon(const float* kp) const;
  // The polygon's bounds grown by the feather, clipped to the canvas (empty when off the canvas).
  Box box(const std::vector<float>& poly) const;
  void fillScanline(const std::vector<float>& poly, const Box& region, std::vector<uint8_t>& out) const;
  // The feathered contour written into the N*N canvas `canvasOut` inside `region` only.
  void contourF32(const std::vector<float>& poly, const Box& region, float* canvasOut);
  // All N*N floats: the contour inside its box, zero elsewhere.
  void contourF32Canvas(const float* kp, float* out);
  // min(contour, pi) as bytes over the canvas; all zero when the contour leaves the canvas.
  void deliveredU8(const float* kp, const UnifiedPi& pi, uint8_t* out);
  // Caps `mask` inside `region` by the contour (zero outside the contour's box); whether any byte of
  // the contour's part of `region` stays non-zero.
  bool shrinkU8InPlace(const float* kp, const Box& region, uint8_t* mask);
  // pi with its centroid shift (UnifiedPi::piU8AndShift), capped by the contour; true when both found
  // something.
  bool deliveredU8AndShift(const float* kp, const UnifiedPi& pi, const double cCanon[2], uint8_t* out,
                           int* shiftY, int* shiftX);

  int32_t canvas() const { return canvas_; }
  float feather() const { return feather_; }
  int32_t vertexCount() const { return nv_; }
  bool hasLipMap() const { return !W_.empty(); }

 private:
  void polygonInto(const float* kp, std::vector<float>& out) const;
  // The current frame's contour into the float scratch canvas; returns its box.
  Box contourIntoScratch(const float* kp);
  void checkComposeCanvas(const UnifiedPi& pi) const;

  int32_t canvas_;
  float feather_;
  int32_t nv_;
  std::vector<double> u_canon_;
  std::vector<int32_t> lip_idx_;
  std::vector<double> W_;
  std::vector<double> b_;
  int32_t kd_ = 0;

  std::vector<float> poly_;
  std::vector<uint8_t> mask_;
  std::vector<float> distance_;
  std::vector<float> canvasScratch_;
  FillScratch fill_;
};

}  // namespace ko::tessera
