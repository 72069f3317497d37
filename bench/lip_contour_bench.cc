// The lip contour on the per-frame path: the whole N*N contour and the delivered mask on a 512 canvas
// for a 40-vertex outline, scaled to the anchors' spread and through an anchor-linear lip map. One
// thread; the keypoints move a little every iteration so no frame repeats. The contour is compared with
// the same work written with OpenCV.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "tessera/lip_contour.h"
#include "tessera/unified_pi.h"
#include "tests/support/pi_frames.h"
#include "tools/authoring/lip_template.h"

namespace {

using ko::tessera::LipContour;
using ko::tessera::UnifiedPi;

constexpr int32_t kCanvas = 512;
constexpr int kVertices = 40;

ko::authoring::LipTemplateSpec outlineTemplate(bool withMap) {
  ko::authoring::LipTemplateSpec lips;
  lips.canvas = kCanvas;
  lips.featherPx = 8;
  lips.uCanon = ko::authoring::ellipseOutline(kVertices);
  lips.lipIdx = {0, 1, 2, 3};
  if (!withMap) return lips;
  ko::authoring::LipMapSpec map;
  map.lipIdx = {0, 1, 2, 3};
  for (const auto& uv : lips.uCanon) {
    map.W.push_back({uv[0] < 0 ? -uv[0] : 0, 0, uv[0] > 0 ? uv[0] : 0, 0, 0, 0, 0, 0});
    map.W.push_back({0, 0, 0, 0, 0, uv[1] < 0 ? -uv[1] : 0, 0, uv[1] > 0 ? uv[1] : 0});
    map.b.push_back(4 * uv[0]);
    map.b.push_back(3 * uv[1]);
  }
  lips.lipMap = map;
  return lips;
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

void BM_ContourCanvas(benchmark::State& state, bool withMap) {
  LipContour contour =
      LipContour::fromTemplateJson(ko::authoring::lipTemplateJson(outlineTemplate(withMap)), kCanvas);
  std::vector<float> out(static_cast<size_t>(kCanvas) * kCanvas);
  int frame = 0;
  for (auto _ : state) {
    contour.contourF32Canvas(frames()[frame++ % kFrames].data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Delivered(benchmark::State& state, bool withMap) {
  LipContour contour =
      LipContour::fromTemplateJson(ko::authoring::lipTemplateJson(outlineTemplate(withMap)), kCanvas);
  const UnifiedPi pi = ko::tessera::test::propPi(kCanvas);
  std::vector<uint8_t> out(static_cast<size_t>(kCanvas) * kCanvas);
  int frame = 0;
  for (auto _ : state) {
    const std::vector<float>& kp = frames()[frame++ % kFrames];
    contour.deliveredU8(kp.data(), pi, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

// What a user would otherwise write with OpenCV: the same polygon and box, cv::fillPoly, then
// cv::distanceTransform (L2 with the 3x3 mask, whose steps are the contour's own 0.955 and 1.3693) from
// the outside to the filled region, and the smoothstep feather into a zeroed N*N canvas.
void BM_OpenCvContour(benchmark::State& state) {
  const LipContour contour =
      LipContour::fromTemplateJson(ko::authoring::lipTemplateJson(outlineTemplate(false)), kCanvas);
  const float feather = contour.feather();
  std::vector<float> out(static_cast<size_t>(kCanvas) * kCanvas);
  int frame = 0;
  for (auto _ : state) {
    const std::vector<float> poly = contour.polygon(frames()[frame++ % kFrames].data());
    const ko::tessera::Box box = contour.box(poly);
    std::vector<cv::Point> points;
    for (size_t i = 0; i + 1 < poly.size(); i += 2) {
      points.emplace_back(cvRound(poly[i]) - box.x0, cvRound(poly[i + 1]) - box.y0);
    }
    cv::Mat outside(box.y1 - box.y0, box.x1 - box.x0, CV_8U, cv::Scalar(255));
    cv::fillPoly(outside, std::vector<std::vector<cv::Point>>{points}, cv::Scalar(0));
    cv::Mat distance;
    cv::distanceTransform(outside, distance, cv::DIST_L2, cv::DIST_MASK_3);
    std::fill(out.begin(), out.end(), 0.0f);
    for (int y = 0; y < distance.rows; ++y) {
      const float* row = distance.ptr<float>(y);
      float* target = out.data() + static_cast<size_t>(box.y0 + y) * kCanvas + box.x0;
      for (int x = 0; x < distance.cols; ++x) {
        const float t = std::clamp(1.0f - row[x] / feather, 0.0f, 1.0f);
        target[x] = t * t * (3.0f - 2.0f * t);
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const bool withMap : {false, true}) {
    const std::string outline = withMap ? "_lip_map" : "_scaled";
    benchmark::RegisterBenchmark(("BM_ContourCanvas" + outline).c_str(), BM_ContourCanvas, withMap)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_Delivered" + outline).c_str(), BM_Delivered, withMap)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("BM_OpenCvContour", BM_OpenCvContour)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  return ko::bench::runWithRatios(argc, argv, {{"BM_ContourCanvas_scaled", "BM_OpenCvContour"}});
}
