// The compositing subsystem's door: putting a rendered face crop back into the full-resolution
// driver frame. The crop is sharpened with an unsharp mask, then every frame pixel inside the
// transformed crop samples it (8x8 Lanczos by default) at the inverse-mapped position and is blended
// over the frame with an alpha taken from the bundle's feathered mask at the same position.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace ko {

// The manifest's sharpening block.
struct Unsharp {
  float amount = 1.3f;
  float sigma = 2.0f;
  int32_t ksize = 13;  // odd
};

// How the crop is sampled: KO_PASTE_FAST=1 selects bicubic, 2 bilinear, anything else Lanczos.
enum class PasteSampling : int32_t { lanczos = 0, bicubic = 1, bilinear = 2 };

// One per session, reused for every frame. Owns all its scratch, so one object must not run two
// composite calls at once; the row loops of one call run on the calling thread's worker pool
// (pool/pool.h).
class Paste {
 public:
  // `mask` is side x side alpha bytes, row-major. Throws std::runtime_error "paste: mask size" when it
  // has another size and "paste: ksize must be odd" for an even unsharp.ksize. Reads KO_PASTE_FAST
  // and KO_PASTE_KSIZE (which may only shrink the Gaussian: odd, above 2, at most unsharp.ksize).
  Paste(std::vector<uint8_t> mask, int32_t side, Unsharp unsharp);

  // Pastes a planar RGB crop (three side x side planes, scaled by `scale` to 0..255; callers pass
  // 255) into the packed RGB24 frame of W x H pixels, in place. M = {a, b, c, d, e, f} maps crop
  // (x, y) to frame (a·x + b·y + c, d·x + e·y + f). A singular M or a crop entirely outside the frame
  // leaves the frame unchanged. Throws "paste: side > 1024" for crops wider than the blur supports,
  // before the frame is touched.
  void composite(const float* crop, float scale, const float* M, uint8_t* frame, int32_t W, int32_t H);

  // The accelerator path; there is none on this platform: returns false and callers use composite.
  bool compositeGpuRgba(const float* crop, float scale, const float* M, uint8_t* rgba, int32_t W, int32_t H);

  // The steps of composite, exposed so each can be checked on its own.
  void fillPlanes(const float* crop, float scale);
  // Also lays out the row pairs that the Lanczos sampling reads.
  void unsharpPlanes();
  // Samples (from what unsharpPlanes left) and blends frame rows [y0, y1] and columns [x0, x1]; the crop
  // position of frame pixel (X, Y) is (colX[X - x0] + rowX·Y + constX, colY[X - x0] + rowY·Y + constY) in
  // crop pixels.
  void compositeTail(uint8_t* frame, int32_t W, int32_t x0, int32_t x1, int32_t y0, int32_t y1, double rowX,
                     double rowY, double constX, double constY);

  int32_t side() const { return side_; }
  int32_t ksize() const { return ksize_; }
  PasteSampling sampling() const { return sampling_; }
  const std::vector<float>& gauss() const { return gauss_; }
  const std::array<std::vector<float>, 3>& planes() const { return planes_; }

 private:
  void blurRows(const float* const* sources, float scale, bool fill);
  void sharpen();
  void layRowPairs(uint64_t begin, uint64_t end);

  int32_t side_;
  int32_t ksize_;
  int32_t padded_;
  float amount_;
  PasteSampling sampling_;
  std::vector<uint8_t> mask_;
  std::vector<float> paddedMask_;  // the mask as floats with a border of zeros
  std::vector<int32_t> maskSums_;  // its summed-area table
  std::vector<float> gauss_;
  std::vector<float> lanczos_;
  std::vector<float> bilinear_;
  std::vector<float> cubic_;
  std::array<std::vector<float>, 3> planes_;
  std::vector<float> tmp_;
  std::vector<float> rowPairs_;
  std::vector<int32_t> colX_;
  std::vector<int32_t> colY_;
};

}  // namespace ko
