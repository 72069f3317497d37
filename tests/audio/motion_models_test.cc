// The synthetic motion directory: tables at the exact sizes the loader insists on, a meta that reads
// back as the recipe, networks reading every input in their declared order, a student one frame ahead.
#include "tools/authoring/motion_models.h"

#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "audio/motion_layout.h"
#include "bundle/file_io.h"
#include "tessera/json.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using namespace authoring;
using namespace motion;

std::vector<float> readFloats(const std::string& path) {
  const std::string bytes = readFile(path);
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

TEST(MotionModels, DirectoryTablesHoldTheirExactFloatCounts) {
  const test::TempDir dir;
  writeMotionModelDir(dir.path(), {.nt = 4, .nSrc = 7, .nEmo = 5});
  const std::pair<const char*, size_t> files[] = {{"hubert_stft_window.bin", 512},
                                                  {"hubert_stft_binmat.bin", 20560},
                                                  {"hubert_fmean.bin", 1024},
                                                  {"hubert_fstd.bin", 1024},
                                                  {"emo.bin", 40},
                                                  {"ch_xs_info.bin", 328},
                                                  {"ch_sc.bin", 63},
                                                  {"ch_eye_open.bin", 2},
                                                  {"ch_eye_ball.bin", 6},
                                                  {"v_min_max.bin", 530},
                                                  {"src_xs_info.bin", 7 * 328},
                                                  {"xs_target.bin", 4 * 63}};
  for (const auto& [name, floats] : files)
    EXPECT_EQ(readFile(dir / name).size(), floats * sizeof(float)) << name;
  const std::vector<float> binmat = readFloats(dir / "hubert_stft_binmat.bin");
  EXPECT_TRUE(std::ranges::all_of(binmat, [](float weight) { return weight >= 0.0f; }));
  // Every band holds some weight and, read bin-major, the bands climb in frequency.
  std::vector<size_t> peakBins(kMelBands);
  for (size_t i = 0; i < binmat.size(); ++i) {
    const size_t band = i % kMelBands;
    if (binmat[i] > binmat[peakBins[band] * kMelBands + band]) peakBins[band] = i / kMelBands;
  }
  for (int band = 0; band < kMelBands; ++band)
    EXPECT_GT(binmat[peakBins[band] * kMelBands + band], 0.0f) << band;
  EXPECT_TRUE(std::ranges::is_sorted(peakBins));
  const std::vector<float> bounds = readFloats(dir / "v_min_max.bin");
  for (int v = 0; v < row::kWidth; ++v) EXPECT_LT(bounds[v], bounds[row::kWidth + v]) << v;
}

TEST(MotionModels, MetaReadsBackAsTheRecipe) {
  const std::pair<MotionModelRecipe, int> cases[] = {
      {{.nt = 4, .nEmo = 2, .sBridge = 1.0f / 3, .deltaPitch = 0.1f}, 4},
      {{.nt = 4, .nSrc = 9, .writeDeltaPitch = false}, 9}};
  for (const auto& [recipe, nSrc] : cases) {
    const test::TempDir dir;
    writeMotionModelDir(dir.path(), recipe);
    const tessera::json::JVal meta = tessera::json::parseJson(readFile(dir / "meta.json"), "meta");
    const auto number = [&](const char* key) { return meta.get(key) ? meta.get(key)->num : -1.0; };
    EXPECT_EQ(number("nt"), recipe.nt);
    EXPECT_EQ(number("n_src"), nSrc);
    EXPECT_EQ(number("n_emo"), recipe.nEmo);
    // Enough digits that each value reads back as the very float the recipe holds.
    EXPECT_EQ(static_cast<float>(number("s_bridge")), recipe.sBridge);
    EXPECT_EQ(static_cast<float>(number("delta_pitch")), recipe.writeDeltaPitch ? recipe.deltaPitch : -1.0f);
  }
}

std::vector<std::string> declaredInputs(const std::vector<uint8_t>& model) {
  Ort::Session session(test::ortEnv(), model.data(), model.size(), Ort::SessionOptions{});
  Ort::AllocatorWithDefaultOptions allocator;
  std::vector<std::string> names;
  for (size_t i = 0; i < session.GetInputCount(); ++i)
    names.emplace_back(session.GetInputNameAllocated(i, allocator).get());
  return names;
}

TEST(MotionModels, NetworksReadEveryInputInTheirDeclaredOrder) {
  std::mt19937 rng(2);
  // A network, its inputs in the order it declares them, its output's name and shape.
  const std::tuple<std::vector<uint8_t>, test::NamedTensors, std::pair<std::string, std::vector<int64_t>>>
      cases[] = {{speechStudent(5),
                  {{"mel", test::uniformTensor({1, kMelBands, kHops}, 8.0f, rng)}},
                  {"feat", {1, 20, 1024}}},
                 {motionGenerator(5),
                  {{"kp_cond", test::uniformTensor({1, row::kWidth}, 1.7f, rng)},
                   {"aud_cond", test::uniformTensor({1, kChunkFrames, kFeatureValues}, 1.7f, rng)}},
                  {"pred", {1, 80, 265}}},
                 {stitchNetwork(5),
                  {{"kp_source", test::uniformTensor({1, 63}, 0.5f, rng)},
                   {"kp_driving", test::uniformTensor({1, 63}, 0.5f, rng)}},
                  {"kp_stitched", {1, 21, 3}}}};
  for (const auto& [model, inputs, output] : cases) {
    std::vector<std::string> names;
    for (const auto& [name, tensor] : inputs) names.push_back(name);
    EXPECT_EQ(declaredInputs(model), names);
    const auto& [outputName, shape] = output;
    const test::FloatTensor base = test::runModel(model, inputs, {outputName}).at(0);
    EXPECT_EQ(base.shape, shape) << outputName;
    for (size_t i = 0; i < inputs.size(); ++i) {
      test::NamedTensors changed = inputs;
      changed[i].second.values.back() += 0.5f;
      const test::FloatTensor run = test::runModel(model, changed, {outputName}).at(0);
      EXPECT_GT(test::maxAbsDifference(run.values, base.values), 1e-3f) << names[i];
    }
  }
}

TEST(MotionModels, StudentFrameReadsMelFramesTAndTPlusOneOnly) {
  std::mt19937 rng(4);
  const test::NamedTensors mel{{"mel", test::uniformTensor({1, kMelBands, kHops}, 8.0f, rng)}};
  const std::vector<uint8_t> model = speechStudent(MotionModelRecipe{}.seed);
  const int t = 6, band = 33;
  const auto frameT = [&](const test::NamedTensors& inputs) {
    const std::vector<float> feat = test::runModel(model, inputs, {"feat"}).at(0).values;
    return std::vector<float>(feat.begin() + t * kSpeechFeatures, feat.begin() + (t + 1) * kSpeechFeatures);
  };
  const std::vector<float> base = frameT(mel);
  const std::pair<int, bool> cases[] = {
      {t - 1, false}, {t, true}, {t + 1, true}, {t + 2, false}, {kHops - 1, false}};
  for (const auto& [melFrame, seen] : cases) {
    test::NamedTensors changed = mel;
    changed[0].second.values[band * kHops + melFrame] += 5.0f;
    EXPECT_EQ(test::maxAbsDifference(frameT(changed), base) > 0.0f, seen) << melFrame;
  }
}

}  // namespace
}  // namespace ko
