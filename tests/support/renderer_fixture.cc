#include "tests/support/renderer_fixture.h"

#include <gtest/gtest.h>

#include "renderer/renderer.h"
#include "simd/half.h"
#include "tests/support/failure_text.h"
#include "tests/support/ko_lines.h"
#include "tests/support/ort_run.h"

namespace ko::test {
namespace {

FloatTensor widened(const uint16_t* halves, std::vector<int64_t> shape) {
  FloatTensor tensor{std::move(shape), {}};
  size_t count = 1;
  for (int64_t d : tensor.shape) count *= static_cast<size_t>(d);
  tensor.values.resize(count);
  halfToFloat(halves, tensor.values.data(), count);
  return tensor;
}

FloatTensor kpTensor(const float* kp) {
  return {{1, 21, 3}, std::vector<float>(kp, kp + 63)};
}

}  // namespace

OpenedBundle RendererBundles::open(IdentityBuilder identity, const DirectorRecipe& director) {
  return open(std::move(identity), directorModel(director));
}

OpenedBundle RendererBundles::open(IdentityBuilder identity, const std::vector<uint8_t>& model) {
  OpenedBundle opened{loadManifest(write(std::move(identity), model)), nullptr};
  opened.identity = std::make_unique<Identity>(opened.manifest);
  return opened;
}

std::string RendererBundles::write(IdentityBuilder identity, const DirectorRecipe& director) {
  return write(std::move(identity), directorModel(director));
}

std::string RendererBundles::write(IdentityBuilder identity, const std::vector<uint8_t>& model) {
  const std::string dir = tmp_ / ("bundle" + std::to_string(++count_));
  identity.member("model_m4b.onnx", std::string(model.begin(), model.end())).writeDirectory(dir);
  return dir;
}

std::string rendererFailure(const OpenedBundle& bundle, const std::string& ep) {
  return failureText([&] { Renderer(bundle.manifest, *bundle.identity, kModelKey, 1, ep); });
}

RenderedOnce renderOnce(const OpenedBundle& bundle, const std::vector<float>& kd, int32_t si,
                        const std::string& ep) {
  const std::vector<float> ks = keypoints(1, 0.0f);
  RenderedOnce out;
  testing::internal::CaptureStderr();
  {
    Renderer renderer(bundle.manifest, *bundle.identity, kModelKey, 1, ep);
    out.ep = renderer.ep();
    const float* rgb = renderer.render(&si, ks.data(), kd.data(), 1);
    const auto side = static_cast<size_t>(bundle.identity->crop());
    out.crop.assign(rgb, rgb + 3 * side * side);
  }
  out.lines = koLines(testing::internal::GetCapturedStderr());
  return out;
}

void expectCrop(const float* crop, const std::vector<float>& expected, float tolerance) {
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_NEAR(crop[i], expected[i], tolerance) << "at " << i;
}

std::vector<float> keypoints(int sets, float offset) {
  std::vector<float> kp(static_cast<size_t>(sets) * 63);
  for (size_t i = 0; i < kp.size(); ++i) kp[i] = offset + 0.013f * static_cast<float>(i % 29) - 0.15f;
  return kp;
}

NamedTensors directInputs(const DirectorRecipe& director, const Identity& identity, int32_t si,
                          const float* kpSource, const float* kpDriving) {
  const int64_t crop = identity.crop();
  if (director.featSynth) {
    return {{"fs_red", widened(identity.fsRed(si), {1, 64, 64, 64})},
            {"pooled", widened(identity.pooled64(si), {1, 64, 32, 32})},
            {"kd", kpTensor(kpDriving)},
            {"ks", kpTensor(kpSource)}};
  }
  return {{"pooled64", widened(identity.pooled64(si), {1, 64, 32, 32})},
          {"P_rgb", widened(identity.P(si), {1, 3, crop, crop})},
          {"kp_driving", kpTensor(kpDriving)},
          {"kp_source", kpTensor(kpSource)}};
}

std::vector<float> directCrop(const DirectorRecipe& director, const Identity& identity, int32_t si,
                              const float* kpSource, const float* kpDriving) {
  DirectorRecipe one = director;
  one.batch = 1;
  return runModel(directorModel(one), directInputs(director, identity, si, kpSource, kpDriving), {"rgb"})
      .at(0)
      .values;
}

}  // namespace ko::test
