// One 1080p frame of the render-and-paste loop on a synthetic 512x512 identity with a movie driver: the
// director run through the renderer, the driver frame pulled, the crop pasted. ONNX Runtime's own Run is the
// network's time; everything else (conversions and copies into the bound buffers, the source-cone
// hand-off, the driver pull and the paste) is the library's overhead, reported as its own counter,
// with the pull and the paste also apart.
// Each thread count runs in a process of its own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/thread_runs.h"
#include "bundle/bundle.h"
#include "driver/cursor.h"
#include "ko/session.h"
#include "paste/paste.h"
#include "pool/pool.h"
#include "renderer/renderer.h"
#include "tests/support/authoring.h"
#include "tests/support/identity_builder.h"
#include "tests/support/movie_writer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kCrop = 512, kW = 1920, kH = 1080, kSources = 4;

std::string writeBundle(const ko::test::TempDir& tmp) {
  const std::string dir = tmp / "frame_bench";
  const std::vector<uint8_t> director = ko::test::directorModel({.crop = kCrop});
  // An idle loop walks its source frames forward and the driver is a movie, as in real bundles.
  std::vector<int32_t> forward(2 * kSources);
  for (size_t t = 0; t < forward.size(); ++t) forward[t] = static_cast<int32_t>(t % kSources);
  ko::test::IdentityBuilder identity(
      {.NT = kSources, .W = kW, .H = kH, .crop = kCrop, .frames = 2 * kSources, .driverFrames = false});
  ko::test::MovieRecipe movie = identity.driverMovieRecipe();
  movie.quantizer = 23;  // a lossless movie of noise-like test pictures decodes far slower than a real driver
  identity.member("target_frames.mp4", ko::test::movieBytes(movie, ".mp4"))
      .member("model_m4b.onnx", std::string(director.begin(), director.end()))
      .member("drive/si.i32", ko::test::memberBytes(forward))
      .writeDirectory(dir);
  return dir;
}

void BM_RenderAndPasteFrame(benchmark::State& state) {
  const ko::test::TempDir tmp;
  const ko::Manifest manifest = ko::loadManifest(writeBundle(tmp));
  const ko::Identity identity(manifest);
  ko::Renderer renderer(manifest, identity, "m4b", ko::pool::threads(), "");
  ko::Paste paste(ko::readPasteMask(manifest), manifest.crop,
                  {manifest.amount, manifest.sigma, manifest.ksize});
  const auto driver = ko::openBundleDriver(manifest, 2, 11);
  const ko::Drive drive = ko::loadDrive(manifest);
  std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH * 3);
  int t = 0;
  double totalMs = 0, pullMs = 0, pasteMs = 0;
  const ko::RenderStats before = renderer.stats();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int32_t si = drive.si[static_cast<size_t>(t)];
    const float* crop = renderer.render(&si, drive.xs.data() + 63 * t, drive.xd.data() + 63 * t, 1);
    const auto rendered = std::chrono::steady_clock::now();
    driver->pullAt(si, frame.data());
    const auto pulled = std::chrono::steady_clock::now();
    paste.composite(crop, 255.0f, identity.M(si), frame.data(), kW, kH);
    const auto pasted = std::chrono::steady_clock::now();
    pullMs += std::chrono::duration<double, std::milli>(pulled - rendered).count();
    pasteMs += std::chrono::duration<double, std::milli>(pasted - pulled).count();
    totalMs += std::chrono::duration<double, std::milli>(pasted - start).count();
    t = (t + 1) % drive.frames;
  }
  const ko::RenderStats after = renderer.stats();
  const double frames = static_cast<double>(state.iterations());
  state.counters["ort_run_ms"] = (after.runMs - before.runMs) / frames;
  state.counters["overhead_ms"] = (totalMs - (after.runMs - before.runMs)) / frames;
  state.counters["pull_ms"] = pullMs / frames;
  state.counters["paste_ms"] = pasteMs / frames;
  state.counters["ring_misses"] = static_cast<double>(after.misses - before.misses);
}

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::forEachThreadCount({1, 2}, [&](int threads) {
    std::printf("render and paste at %d thread(s)\n", threads);
    const std::string name = "BM_RenderAndPasteFrame_t" + std::to_string(threads);
    benchmark::RegisterBenchmark(name.c_str(), BM_RenderAndPasteFrame)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  });
}
