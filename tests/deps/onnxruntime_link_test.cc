// The ONNX Runtime the build found really loads: an environment, session options and a custom-op
// domain are created through the headers the library compiles against.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <string>

namespace {

TEST(OnnxRuntime, LoadsThroughTheCompiledAgainstApi) {
  const std::string version = Ort::GetVersionString();
  EXPECT_FALSE(version.empty());
  ASSERT_NE(OrtGetApiBase()->GetApi(ORT_API_VERSION), nullptr)
      << "runtime " << version << " lacks API " << ORT_API_VERSION;
  Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "ko_test");
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(1);
  Ort::CustomOpDomain domain("com.quandrel.test");
  options.Add(domain);
  std::printf("ONNX Runtime %s, API %d\n", version.c_str(), ORT_API_VERSION);
}

}  // namespace
