// One 1920x1080 yuv420p frame to packed RGB24 (BT.601 limited range, one thread): the kernel, row by
// row as the driver calls it, against libswscale's unscaled conversion of the same frame.
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "bench/support/ratio_report.h"
#include "simd/simd.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Frame {
  std::vector<uint8_t> luma, u, v, rgb;
  Frame()
      : luma(kWidth * kHeight), u(kWidth * kHeight / 4), v(kWidth * kHeight / 4), rgb(kWidth * kHeight * 3) {
    for (size_t i = 0; i < luma.size(); ++i) luma[i] = static_cast<uint8_t>((i * 7 + i / kWidth) & 0xFF);
    for (size_t i = 0; i < u.size(); ++i)
      u[i] = static_cast<uint8_t>(i * 3), v[i] = static_cast<uint8_t>(255 - i * 5);
  }
};

Frame& frame() {
  static Frame f;
  return f;
}

void BM_Yuv420RowToRgb24(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) {
      const size_t chroma = static_cast<size_t>(y / 2) * (kWidth / 2);
      ko::simd::yuv420RowToRgb24(&f.luma[static_cast<size_t>(y) * kWidth], &f.u[chroma], &f.v[chroma], kWidth,
                                 1, &f.rgb[static_cast<size_t>(y) * kWidth * 3]);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

struct SwsDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

void BM_SwscaleYuv420pToRgb24(benchmark::State& state) {
  Frame& f = frame();
  const std::unique_ptr<SwsContext, SwsDeleter> context(sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                                                       kWidth, kHeight, AV_PIX_FMT_RGB24,
                                                                       SWS_POINT, nullptr, nullptr, nullptr));
  if (!context) throw std::runtime_error("sws_getContext failed");
  // BT.601 coefficients, limited-range input, full-range RGB: the conversion the kernel computes.
  const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
  sws_setColorspaceDetails(context.get(), bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
  const uint8_t* const planes[3] = {f.luma.data(), f.u.data(), f.v.data()};
  const int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
  uint8_t* const out[1] = {f.rgb.data()};
  const int outStride[1] = {kWidth * 3};
  for (auto _ : state) {
    sws_scale(context.get(), planes, strides, 0, kHeight, out, outStride);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(BM_Yuv420RowToRgb24)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SwscaleYuv420pToRgb24)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::printf("kernels run on %s\n", ko::simd::target());
  return ko::bench::runWithRatios(argc, argv, {{"BM_Yuv420RowToRgb24", "BM_SwscaleYuv420pToRgb24"}});
}
