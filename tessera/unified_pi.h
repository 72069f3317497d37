// The unified compose geometry: from a frame's 21 keypoints, the soft compose mask "pi" the renderer
// blends its mouth with (a lip ellipse, and a teeth ellipse gated by how far the mouth is open), its
// pixel boxes, centroid and the shift of that centroid against the bank's canonical centre.
//
// Keypoint vectors are 63 floats (x, y, z per keypoint; x and y normalised to [-1, 1] over the crop).
// Masks are N*N, row-major with the row as y.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ko::tessera {

inline constexpr int32_t kKeypointCount = 21;
inline constexpr int32_t kKeypointFloats = 3 * kKeypointCount;

// An ellipse in normalised units; R = sqrt(rx*ry)*256 scales its feather.
struct EllParams {
  float cx = 0;
  float cy = 0;
  float rx = 0;
  float ry = 0;
  float R = 0;
};

// A half-open pixel rectangle.
struct Box {
  int32_t x0 = 0;
  int32_t y0 = 0;
  int32_t x1 = 0;
  int32_t y1 = 0;

  bool empty() const { return x1 <= x0 || y1 <= y0; }
};

Box intersect(const Box& a, const Box& b);

// Mean column and row of the bytes >= 128 of a mask `width` bytes wide, over `region` (which must lie
// inside the mask); false when there are none.
bool maskCentroid(const uint8_t* mask, int32_t width, const Box& region, double* xOut, double* yOut);

class UnifiedPi {
 public:
  int32_t canvas = 0;
  std::string mode = "prop";
  bool corner_recovery = false;
  float prop_gate_scale = 1.0f;
  std::vector<int32_t> lip_idx;
  float pad_x = 0;
  float pad_y = 0;
  float down = 0;
  std::vector<float> xs;  // pixel-centre x of each column, 2i/(N-1) - 1
  std::vector<float> ys;  // the same for rows

  // Reads the manifest's `unified` block for an engine rendering at `canvas`; throws on refusal.
  static UnifiedPi fromManifestJson(std::string_view manifest, int32_t canvas);
  // The manifest's geometry with the corpus lip geometry whose canonical centroid over `xsTarget`
  // (nFrames keypoint vectors) matches `cCanon`; its name goes to `chosenName` when given.
  static UnifiedPi corpusFromManifestJson(std::string_view manifest, int32_t canvas, const float* xsTarget,
                                          int nFrames, const double cCanon[2], std::string* chosenName);

  // Sets canvas, xs and ys for an N x N crop (N >= 1).
  void setCanvas(int32_t n);

  void ellMask(const float* kp, float padX, float padY, float minRx, float minRy, float scale, float drop,
               float* out) const;
  void lipMask(const float* kp, float* out) const;
  void propTeethGate(const float* kp, float* out) const;
  void piU8(const float* kp, uint8_t* out) const;

  EllParams lipParams(const float* kp) const;
  EllParams gateParams(const float* kp, float* gateOut) const;
  Box ellBox(const EllParams& e) const;
  // Outside this box pi is 0.
  Box supportBox(const float* kp) const;

  // piU8 inside the support box, zero elsewhere.
  void piU8Boxed(const float* kp, uint8_t* out) const;
  // Zeroes the canvas; inside the support box clipped to `box`, the byte of min(limit, pi) where
  // limit > 0 (0 elsewhere).
  void piU8ShrunkBy(const float* kp, const float* limit, const Box& box, uint8_t* out) const;
  // Mean column and row of the bytes >= 128 (inside `box` when given); false when there are none.
  bool piU8Centroid(const uint8_t* mask, double* xOut, double* yOut) const;
  bool piU8Centroid(const uint8_t* mask, const Box& box, double* xOut, double* yOut) const;
  // piU8Boxed into `out`, and the whole-pixel shift of its centroid against cCanon (x, y); false
  // when pi has no centroid.
  bool piU8AndShift(const float* kp, const double cCanon[2], uint8_t* out, int* shiftYOut,
                    int* shiftXOut) const;
  // The mean over frames of the full-canvas pi centroid; throws when no frame has one.
  void canonicalCentroid(const float* xsFrames, int nFrames, double* xOut, double* yOut) const;

 private:
  void fillEllipse(const EllParams& e, float gain, float* out) const;
  void piBytes(const float* kp, const Box& region, uint8_t* out) const;
};

}  // namespace ko::tessera
