// What the lip contour adds to a rendered frame: one synthetic 512x512 identity whose director ends in
// the unified compose tail, rendered with a lip template (the contour bound to the compose alpha, so
// every frame rasterises it into "lip_delivery" and the graph takes one Min more) and without one (the
// graph's own ellipse), at batch 1 and batch 4. The ratio is the ellipse's time over the contour's: the
// nearer to 1, the less the feed costs; "run_ms" is ONNX Runtime's own Run per frame.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "bundle/bundle.h"
#include "pool/pool.h"
#include "renderer/renderer.h"
#include "tests/support/authoring.h"
#include "tests/support/identity_builder.h"
#include "tests/support/renderer_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kCrop = 512, kSources = 4;
const std::vector<int32_t> kLipRows{6, 7, 8, 9};

std::string lipTemplate() {
  ko::test::LipTemplateSpec lipFile;
  lipFile.canvas = kCrop;
  lipFile.featherPx = 10.0;
  lipFile.uCanon = ko::test::ellipseOutline(40);
  lipFile.lipIdx = kLipRows;
  return ko::test::lipTemplateJson(lipFile);
}

// `batch` rows of keypoints with the lips open a little differently in each.
std::vector<float> drivingRows(int batch) {
  std::vector<float> kp = ko::test::keypoints(batch, 0.0f);
  for (int b = 0; b < batch; ++b) {
    const float lips[4][2] = {{-0.2f, 0.3f}, {0.2f, 0.3f}, {0.0f, 0.25f}, {0.0f, 0.4f + 0.02f * b}};
    for (size_t i = 0; i < kLipRows.size(); ++i) {
      kp[static_cast<size_t>(63 * b + 3 * kLipRows[i])] = lips[i][0];
      kp[static_cast<size_t>(63 * b + 3 * kLipRows[i] + 1)] = lips[i][1];
    }
  }
  return kp;
}

void renderFrames(benchmark::State& state, int batch, bool lips) {
  const ko::test::TempDir tmp;
  ko::test::IdentityBuilder identity({.NT = kSources, .crop = kCrop, .frames = kSources});
  if (lips) identity.member("lip_template.v1.json", lipTemplate());
  ko::test::RendererBundles bundles;
  const ko::test::OpenedBundle bundle =
      bundles.open(identity, ko::test::DirectorRecipe{.crop = kCrop, .batch = batch, .composeTail = true});
  ko::Renderer renderer(bundle.manifest, *bundle.identity, "m4b", ko::pool::threads(), "");
  const std::vector<float> ks = ko::test::keypoints(batch, 0.0f), kd = drivingRows(batch);
  std::vector<int32_t> si(static_cast<size_t>(batch));
  int frame = 0;
  const ko::RenderStats before = renderer.stats();
  for (auto _ : state) {
    for (int b = 0; b < batch; ++b) si[static_cast<size_t>(b)] = (frame + b) % kSources;
    benchmark::DoNotOptimize(renderer.render(si.data(), ks.data(), kd.data(), batch));
    ++frame;
  }
  const ko::RenderStats after = renderer.stats();
  // ONNX Runtime's own Run, so the feed's share outside the network shows apart from the Min inside it.
  state.counters["run_ms"] =
      (after.runMs - before.runMs) / static_cast<double>(after.runCount - before.runCount);
  state.SetItemsProcessed(state.iterations() * batch);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<ko::bench::Comparison> comparisons;
  for (const int batch : {1, 4}) {
    const std::string ours = "BM_RenderLipContour_batch" + std::to_string(batch);
    const std::string theirs = "BM_RenderEllipse_batch" + std::to_string(batch);
    benchmark::RegisterBenchmark(ours.c_str(), renderFrames, batch, true)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(theirs.c_str(), renderFrames, batch, false)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    comparisons.push_back({ours, theirs});
  }
  return ko::bench::runWithRatios(argc, argv, comparisons);
}
