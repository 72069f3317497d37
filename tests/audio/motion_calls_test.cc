// The exported motion calls: every refusal with its exact text, bad arguments that never crash, the
// dumps, and the C face serving what the stream object it wraps serves.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "bundle/bundle.h"
#include "ko/ko_a2x.h"
#include "tests/support/motion_fixture.h"
#include "tools/authoring/bundle_builder.h"

namespace ko::test {
namespace {

struct MotionHandle {
  ko_motion* stream;
  ~MotionHandle() { ko_motion_destroy(stream); }
};

TEST(MotionCalls, RefuseToCreateWithTheReason) {
  const auto meta = [](const char* text) {
    return [text](const std::string& dir) { authoring::writeBytes(dir + "/meta.json", text); };
  };
  const auto shorten = [](const char* name, size_t floats) {
    return [name, floats](const std::string& dir) {
      authoring::writeBytes(dir + "/" + name, std::string(floats * 4 + 3, '\0'));
    };
  };
  struct Case {
    std::function<void(const std::string& dir)> change;
    std::string text;  // after "ko_motion_create: "; "<dir>" stands for the motion directory
    const char* ep = "";
  };
  const Case cases[] = {
      {[](const std::string& dir) { std::remove((dir + "/meta.json").c_str()); },
       "cannot open <dir>/meta.json"},
      {meta("{\"n_src\": 6, \"n_emo\": 3, \"s_bridge\": 1}"), "meta.json: missing nt"},
      {meta("{\"nt\" 6, \"n_src\": 6, \"n_emo\": 3, \"s_bridge\": 1}"), "meta.json: bad nt"},
      {meta("{\"nt\": 6, \"n_src\": 6, \"n_emo\": 0, \"s_bridge\": 1}"), "meta.json: bad n_emo"},
      {meta("{\"nt\": 6, \"n_src\": 6, \"n_emo\": 3, \"s_bridge\": x}"), "meta.json: bad s_bridge"},
      {meta("{\"nt\": 6, \"n_src\": 5, \"n_emo\": 3, \"s_bridge\": 1}"),
       "ko_motion: n_src != nt unsupported"},
      {shorten("v_min_max.bin", 0), "short read <dir>/v_min_max.bin: 0 floats, expected 530"},
      {shorten("hubert_stft_binmat.bin", 20559),
       "short read <dir>/hubert_stft_binmat.bin: 20559 floats, expected 20560"},
      {shorten("src_xs_info.bin", 328 * 5), "short read <dir>/src_xs_info.bin: 1640 floats, expected 1968"},
      {shorten("xs_target.bin", 63), "short read <dir>/xs_target.bin: 63 floats, expected 378"},
      {[](const std::string& dir) { std::remove((dir + "/emo.bin").c_str()); }, "cannot open <dir>/emo.bin"},
      {[](const std::string& dir) { std::remove((dir + "/stitch.onnx").c_str()); },
       "cannot open <dir>/stitch.onnx"},
      {[](const std::string& dir) {
         std::rename((dir + "/stitch.onnx").c_str(), (dir + "/lmdm.onnx").c_str());
       },
       "lmdm.onnx: input kp_source declares [1,63], which cannot hold 265 values"},
      {[](const std::string&) {}, "ko_motion: unknown ep 'cuda'", "cuda"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    MotionFixture fixture;
    c.change(fixture.dir.path());
    std::string text = "ko_motion_create: " + c.text;
    if (const size_t at = text.find("<dir>"); at != std::string::npos)
      text.replace(at, 5, fixture.dir.path());
    EXPECT_EQ(ko_motion_create(fixture.dir.path().c_str(), 1, c.ep), nullptr);
    EXPECT_EQ(ko_motion_last_error(), text);
  }
  // This platform's runtime has no CoreML provider: the create fails with the runtime's reason.
  MotionFixture fixture;
  EXPECT_EQ(ko_motion_create(fixture.dir.path().c_str(), 1, "coreml:gpu"), nullptr);
  EXPECT_TRUE(std::string(ko_motion_last_error()).starts_with("ko_motion_create: "))
      << ko_motion_last_error();
  EXPECT_NE(std::string(ko_motion_last_error()).find("CoreML"), std::string::npos) << ko_motion_last_error();
}

TEST(MotionCalls, AnswerBadArgumentsWithoutCrashing) {
  MotionFixture fixture;
  MotionHandle handle{ko_motion_create(fixture.dir.path().c_str(), 1, nullptr)};
  ASSERT_NE(handle.stream, nullptr) << ko_motion_last_error();
  float samples[640] = {}, out[63] = {};
  int rows = 0;
  struct Case {
    const char* text;
    std::function<int()> run;
    int result;
  };
  const Case cases[] = {
      {"ko_motion_push: bad args / already finished",
       [&] { return ko_motion_push(handle.stream, nullptr, 1); }, 0},
      {"ko_motion_push: bad args / already finished",
       [&] { return ko_motion_push(handle.stream, samples, -1); }, 0},
      {"ko_motion_pull: bad args", [&] { return ko_motion_pull(handle.stream, &rows, nullptr, out, 1); }, -1},
      {"ko_motion_pull: bad args", [&] { return ko_motion_pull(handle.stream, &rows, out, out, -1); }, -1},
      {"", [&] { return ko_motion_push(handle.stream, samples, 640); }, 1},
      {"", [&] { return ko_motion_finish(handle.stream); }, 1},
      {"ko_motion_push: bad args / already finished",
       [&] { return ko_motion_push(handle.stream, samples, 640); }, 0},
      {"", [&] { return ko_motion_total(handle.stream); }, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(), c.result) << c.text;
    EXPECT_STREQ(ko_motion_last_error(), c.text);
  }
}

TEST(MotionCalls, ServeWhatTheStreamObjectServesAndDumpIt) {
  MotionFixture fixture;
  TempDir dumps;
  ScopedEnv dumpEnv("KO_MOTION_DUMP", dumps.path().c_str());
  MotionHandle handle{ko_motion_create(fixture.dir.path().c_str(), 1, "")};
  ASSERT_NE(handle.stream, nullptr) << ko_motion_last_error();
  EXPECT_EQ(ko_motion_nt(handle.stream), 6);
  ASSERT_EQ(ko_motion_reset(handle.stream, 2, -1, 0), 1);
  ko_motion_set_eager(handle.stream, 2);
  const std::vector<float> audio = speechAudio(90 * 640 - 10);
  PulledFrames viaC;
  std::vector<int> rows(8);
  std::vector<float> xs(8 * 63), kp(8 * 63);
  const auto pullSome = [&] {
    int got = 0;
    while ((got = ko_motion_pull(handle.stream, rows.data(), xs.data(), kp.data(), 8)) > 0)
      viaC.append(rows.data(), xs.data(), kp.data(), nullptr, got);
    ASSERT_EQ(got, 0) << ko_motion_last_error();
  };
  for (size_t at = 0; at < audio.size(); at += 1000) {
    ASSERT_EQ(ko_motion_push(handle.stream, audio.data() + at,
                             static_cast<int>(std::min<size_t>(1000, audio.size() - at))),
              1);
    pullSome();
  }
  EXPECT_EQ(ko_motion_total(handle.stream), -1);
  ASSERT_EQ(ko_motion_finish(handle.stream), 1);
  EXPECT_EQ(ko_motion_total(handle.stream), 90);
  pullSome();
  motion::MotionStream direct(fixture.dir.path(), 1, "");
  direct.reset(2, -1, false);
  const PulledFrames objectFrames = streamAudio(
      direct, audio, [] { return size_t{1000}; }, false);
  EXPECT_EQ(viaC.idx, objectFrames.idx);
  EXPECT_EQ(viaC.kp, objectFrames.kp);
  EXPECT_EQ(viaC.xs, objectFrames.xs);

  const struct {
    const char* name;
    size_t floats;
  } files[] = {{"mel0.bin", 80 * 21},        {"feat0.bin", 5 * 1103},      {"lmdm0_kp.bin", 265},
               {"lmdm0_aud.bin", 80 * 1103}, {"lmdm0_pred.bin", 80 * 265}, {"res_post.bin", 90 * 265},
               {"final.bin", 90 * 265},      {"cond.bin", 2 * 265},        {"xs.bin", 90 * 63},
               {"xd.bin", 90 * 63},          {"xsla.bin", 90 * 63},        {"xdla.bin", 90 * 63}};
  for (const auto& file : files) EXPECT_EQ(readFile(dumps / file.name).size(), file.floats * 4) << file.name;
  const std::string pulled = readFile(dumps / "xdla.bin");
  EXPECT_EQ(0, std::memcmp(pulled.data(), viaC.kp.data(), pulled.size()));
}

}  // namespace
}  // namespace ko::test
