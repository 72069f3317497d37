// The paste of a 512x512 crop into a 1920x1080 frame under a rotated, scaled transform, against the
// same job done with OpenCV: Gaussian unsharp mask, Lanczos-4 warpAffine of the sharpened crop and a
// bilinear warp of the mask into the crop's bounding box, then the alpha blend. Both run at the same
// thread count; each count runs in a process of its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "bench/support/thread_runs.h"
#include "paste/paste.h"
#include "pool/pool.h"
#include "simd/simd.h"

namespace {

constexpr int kSide = 512, kW = 1920, kH = 1080;
const ko::Unsharp kUnsharp{1.3f, 2.0f, 13};

struct Scene {
  std::vector<float> crop = std::vector<float>(3 * kSide * kSide);
  std::vector<uint8_t> mask = std::vector<uint8_t>(kSide * kSide);
  std::vector<uint8_t> frame = std::vector<uint8_t>(3 * kW * kH);
  // A face crop turned by 8 degrees and enlarged 1.4 times, near the frame's centre.
  float M[6];

  Scene() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (float& v : crop) v = unit(rng);
    for (uint8_t& v : frame) v = static_cast<uint8_t>(rng());
    // An elliptic mask feathered over 40 pixels.
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const float dx = (x - 255.5f) / 220.0f, dy = (y - 255.5f) / 240.0f;
        const float edge = (1.0f - std::sqrt(dx * dx + dy * dy)) * 220.0f / 40.0f;
        mask[y * kSide + x] = static_cast<uint8_t>(255.0f * std::clamp(edge, 0.0f, 1.0f));
      }
    }
    const float angle = 8.0f * 3.14159265f / 180.0f, scale = 1.4f;
    const float a = scale * std::cos(angle), b = -scale * std::sin(angle);
    M[0] = a, M[1] = b, M[2] = 640.0f, M[3] = -b, M[4] = a, M[5] = 160.0f;
  }
};

void BM_KoPaste(benchmark::State& state) {
  Scene scene;
  ko::Paste paste(scene.mask, kSide, kUnsharp);
  for (auto _ : state) {
    paste.composite(scene.crop.data(), 255.0f, scene.M, scene.frame.data(), kW, kH);
    benchmark::ClobberMemory();
  }
}

// What a user would write with OpenCV, keeping to the crop's bounding box as a careful user would.
void BM_OpenCvPaste(benchmark::State& state) {
  Scene scene;
  cv::Mat frame(kH, kW, CV_8UC3, scene.frame.data());
  const cv::Mat mask(kSide, kSide, CV_8UC1, scene.mask.data());
  std::vector<cv::Mat> planes;
  for (int c = 0; c < 3; ++c)
    planes.emplace_back(kSide, kSide, CV_32FC1, scene.crop.data() + c * kSide * kSide);
  cv::Mat M(2, 3, CV_32F, scene.M);
  std::vector<cv::Point2f> corners{
      {-4, -4}, {kSide + 3.0f, -4}, {-4, kSide + 3.0f}, {kSide + 3.0f, kSide + 3.0f}};
  cv::transform(corners, corners, M);
  const cv::Rect box = cv::boundingRect(corners) & cv::Rect(0, 0, kW, kH);
  cv::Mat shifted = M.clone();
  shifted.at<float>(0, 2) -= static_cast<float>(box.x);
  shifted.at<float>(1, 2) -= static_cast<float>(box.y);
  cv::Mat crop, blurred, sharp, warped, warped8, maskWarped, alpha, inverse;
  for (auto _ : state) {
    cv::merge(planes, crop);
    cv::GaussianBlur(crop, blurred, cv::Size(kUnsharp.ksize, kUnsharp.ksize), kUnsharp.sigma, kUnsharp.sigma,
                     cv::BORDER_REFLECT_101);
    cv::addWeighted(crop, 255.0 * (1.0 + kUnsharp.amount), blurred, -255.0 * kUnsharp.amount, 0.0, sharp);
    cv::min(cv::max(sharp, 0.0), 255.0, sharp);
    cv::warpAffine(sharp, warped, shifted, box.size(), cv::INTER_LANCZOS4, cv::BORDER_CONSTANT);
    cv::warpAffine(mask, maskWarped, shifted, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    warped.convertTo(warped8, CV_8UC3);
    maskWarped.convertTo(alpha, CV_32F, 1.0 / 255.0);
    cv::subtract(1.0, alpha, inverse);
    cv::Mat region = frame(box);
    cv::blendLinear(warped8, region, alpha, inverse, region);
    benchmark::ClobberMemory();
  }
}

int runAt(int threads, int argc, char** argv) {
  cv::setNumThreads(threads);
  std::printf("paste at %d thread(s): kernels on %s, OpenCV %s with %d thread(s)\n", ko::pool::threads(),
              ko::simd::target(), CV_VERSION, cv::getNumThreads());
  const std::string suffix = "_t" + std::to_string(threads);
  const std::string ours = "BM_KoPaste" + suffix, theirs = "BM_OpenCvPaste" + suffix;
  benchmark::RegisterBenchmark(ours.c_str(), BM_KoPaste)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(theirs.c_str(), BM_OpenCvPaste)->UseRealTime()->Unit(benchmark::kMillisecond);
  return ko::bench::runWithRatios(argc, argv, {{ours, theirs}});
}

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::forEachThreadCount({1, 2}, [&](int threads) { return runAt(threads, argc, argv); });
}
