// The lip contour on the per-frame path: the whole N*N contour and the delivered mask on a 512 canvas
// for a 40-vertex outline, scaled to the anchors' spread and through an anchor-linear lip map. One
// thread; the keypoints move a little every iteration so no frame repeats.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tessera/lip_contour.h"
#include "tessera/unified_pi.h"
#include "tools/authoring/lip_template.h"

namespace {

using ko::tessera::LipContour;
using ko::tessera::UnifiedPi;

constexpr int32_t kCanvas = 512;
constexpr int kVertices = 40;

ko::authoring::LipTemplateSpec outlineTemplate(bool withMap) {
  ko::authoring::LipTemplateSpec spec;
  spec.canvas = kCanvas;
  spec.featherPx = 8;
  spec.uCanon = ko::authoring::ellipseOutline(kVertices);
  spec.lipIdx = {0, 1, 2, 3};
  if (!withMap) return spec;
  ko::authoring::LipMapSpec map;
  map.lipIdx = {0, 1, 2, 3};
  for (const auto& uv : spec.uCanon) {
    map.W.push_back({uv[0] < 0 ? -uv[0] : 0, 0, uv[0] > 0 ? uv[0] : 0, 0, 0, 0, 0, 0});
    map.W.push_back({0, 0, 0, 0, 0, uv[1] < 0 ? -uv[1] : 0, 0, uv[1] > 0 ? uv[1] : 0});
    map.b.push_back(4 * uv[0]);
    map.b.push_back(3 * uv[1]);
  }
  spec.lipMap = map;
  return spec;
}

UnifiedPi composeGeometry() {
  UnifiedPi pi;
  pi.lip_idx = {0, 1, 2, 3};
  pi.pad_x = 0.1f;
  pi.pad_y = 0.08f;
  pi.down = 0.074f;
  pi.setCanvas(kCanvas);
  return pi;
}

// An open mouth around (0.02, 0.35), jittered by the frame number.
std::vector<float> mouthAt(int frame) {
  std::vector<float> kp(ko::tessera::kKeypointFloats, 0.0f);
  const float jitter = 0.002f * static_cast<float>(frame);
  const float points[4][2] = {
      {-0.18f + jitter, 0.35f}, {0.22f, 0.35f + jitter}, {0.02f, 0.31f - jitter}, {0.02f, 0.40f}};
  for (int i = 0; i < 4; ++i) {
    kp[3 * i] = points[i][0];
    kp[3 * i + 1] = points[i][1];
  }
  return kp;
}

constexpr int kFrames = 7;

const std::vector<std::vector<float>>& frames() {
  static const std::vector<std::vector<float>> all = [] {
    std::vector<std::vector<float>> f;
    for (int i = 0; i < kFrames; ++i) f.push_back(mouthAt(i));
    return f;
  }();
  return all;
}

void BM_ContourCanvas(benchmark::State& state) {
  LipContour contour = LipContour::fromTemplateJson(
      ko::authoring::lipTemplateJson(outlineTemplate(state.range(0) != 0)), kCanvas);
  std::vector<float> out(static_cast<size_t>(kCanvas) * kCanvas);
  int frame = 0;
  for (auto _ : state) {
    contour.contourF32Canvas(frames()[frame++ % kFrames].data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Delivered(benchmark::State& state) {
  LipContour contour = LipContour::fromTemplateJson(
      ko::authoring::lipTemplateJson(outlineTemplate(state.range(0) != 0)), kCanvas);
  const UnifiedPi pi = composeGeometry();
  std::vector<uint8_t> out(static_cast<size_t>(kCanvas) * kCanvas);
  int frame = 0;
  for (auto _ : state) {
    const std::vector<float>& kp = frames()[frame++ % kFrames];
    contour.deliveredU8(kp.data(), pi, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_ContourCanvas)->ArgName("lip_map")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Delivered)->ArgName("lip_map")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
