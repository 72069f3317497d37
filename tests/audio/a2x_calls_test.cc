// The exported a2x calls: every refusal with its exact text, bad arguments that never crash, and the
// C face serving what the stream object it wraps serves.
#include <gtest/gtest.h>

#include "ko/ko_a2x.h"
#include "tests/support/a2x_fixture.h"
#include "tools/authoring/bundle_builder.h"

namespace ko::test {
namespace {

struct A2xHandle {
  ko_a2x* stream;
  ~A2xHandle() { ko_a2x_destroy(stream); }
};

TEST(A2xCalls, RefuseToCreateWithTheReason) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> change;
    std::string text;  // after "ko_a2x_create: "; "<dir>" stands for the motion directory
  };
  const Case cases[] = {
      {"no meta", [](const std::string& dir) { std::remove((dir + "/a2x_meta.json").c_str()); },
       "a2x_meta.json missing in <dir>"},
      {"no window",
       [](const std::string& dir) {
         authoring::writeBytes(dir + "/a2x_meta.json", "{\"h\": 16, \"left\": 3}");
       },
       "meta lacks causal window/left (not a streaming a2x)"},
      {"short positions",
       [](const std::string& dir) {
         authoring::writeBytes(dir + "/a2x_pos.f32", std::string(16 * 4 * 2 - 1, '\0'));
       },
       "pos/norm/xs_target read failed"},
      {"short norm",
       [](const std::string& dir) {
         authoring::writeBytes(dir + "/a2x_norm.f32", std::string(125 * 4, '\0'));
       },
       "pos/norm/xs_target read failed"},
      {"idle rows shorter than one set",
       [](const std::string& dir) {
         authoring::writeBytes(dir + "/xs_target.bin", std::string(62 * 4, '\0'));
       },
       "pos/norm/xs_target read failed"},
      {"no W2V_ONNX", [](const std::string&) { unsetenv("W2V_ONNX"); }, "$W2V_ONNX not set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    A2xFixture fixture;
    c.change(fixture.motionDir);
    std::string text = "ko_a2x_create: " + c.text;
    if (const size_t at = text.find("<dir>"); at != std::string::npos) text.replace(at, 5, fixture.motionDir);
    EXPECT_EQ(ko_a2x_create(fixture.motionDir.c_str(), 1), nullptr);
    EXPECT_EQ(ko_a2x_last_error(), text);
  }
}

TEST(A2xCalls, ServeWhatTheStreamObjectServes) {
  A2xSetup setup;
  setup.motion.nt = 7;
  A2xFixture fixture(setup);
  A2xHandle handle{ko_a2x_create(fixture.motionDir.c_str(), 1)};
  ASSERT_NE(handle.stream, nullptr) << ko_a2x_last_error();
  A2xStream direct(fixture.motionDir, 1);
  EXPECT_EQ(ko_a2x_nt(handle.stream), 7);
  EXPECT_EQ(ko_a2x_width(handle.stream), 0);
  ASSERT_EQ(ko_a2x_reset(handle.stream, 2, -1, 0), 1);
  direct.reset(2, -1, 0);

  const std::vector<float> audio = speechAudio(3 * 16000 + 100);
  PulledFrames viaC;
  std::vector<int> idx(8);
  std::vector<float> xs(8 * 63), kp(8 * 63), wn(8);
  for (size_t at = 0; at < audio.size(); at += 1000) {
    const int piece = static_cast<int>(std::min<size_t>(1000, audio.size() - at));
    ASSERT_EQ(ko_a2x_push(handle.stream, audio.data() + at, piece), 1);
    ko_a2x_avail(handle.stream);
  }
  EXPECT_EQ(ko_a2x_total(handle.stream), -1);
  ASSERT_EQ(ko_a2x_finish(handle.stream), 1);
  EXPECT_EQ(ko_a2x_total(handle.stream), 76);
  for (int got; (got = ko_a2x_pull_wn(handle.stream, idx.data(), xs.data(), kp.data(), wn.data(), 8)) > 0;)
    viaC.append(idx.data(), xs.data(), kp.data(), wn.data(), got);
  EXPECT_STREQ(ko_a2x_last_error(), "");
  EXPECT_EQ(viaC.wn, std::vector<float>(viaC.idx.size(), 0.0f));
  const PulledFrames objectFrames = streamAudio(
      direct, audio, [] { return size_t{1000}; }, false);
  EXPECT_EQ(viaC.idx, objectFrames.idx);
  EXPECT_EQ(viaC.kp, objectFrames.kp);
  EXPECT_EQ(viaC.xs, objectFrames.xs);

  std::vector<float> deltas(76 * 63), wnOut(76);
  EXPECT_EQ(ko_a2x_deltas_wn(handle.stream, audio.data(), static_cast<int>(audio.size()), deltas.data(),
                             wnOut.data(), 76),
            -3);
  EXPECT_STREQ(ko_a2x_last_error(), "ko_a2x_deltas_wn: encoder declares no wn output");
  EXPECT_EQ(ko_a2x_deltas(handle.stream, audio.data(), static_cast<int>(audio.size()), deltas.data(), 75),
            -2);
  EXPECT_EQ(ko_a2x_deltas(handle.stream, audio.data(), static_cast<int>(audio.size()), deltas.data(), 76),
            76);
}

TEST(A2xCalls, PreloadTheEncoderFromAPathOrTheEnvironment) {
  {
    ScopedEnv unset("W2V_ONNX", nullptr);
    EXPECT_EQ(ko_a2x_preload_w2v(""), 0);
    EXPECT_STREQ(ko_a2x_last_error(), "ko_a2x_preload_w2v: no path and $W2V_ONNX unset");
  }
  A2xFixture fixture;
  EXPECT_EQ(ko_a2x_preload_w2v(""), 1) << ko_a2x_last_error();
  EXPECT_EQ(ko_a2x_preload_w2v(fixture.w2vPath.c_str()), 1);
  EXPECT_STREQ(ko_a2x_last_error(), "");
}

}  // namespace
}  // namespace ko::test
