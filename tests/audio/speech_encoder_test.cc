// Loading the process-wide speech encoder: one 8 s session whatever the later paths, where the
// short-window pair is looked for, a failed pair never tried again, the trunk length learnt from the
// first run, concurrent first loads, the owner thread and the CUDA provider's fallback.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <thread>

#include "audio/audio.h"
#include "audio/ort_sessions.h"
#include "audio/owner_thread.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/ko_lines.h"
#include "tests/support/ort_run.h"

namespace ko::test {
namespace {

std::vector<std::string> linesOf(const std::function<void()>& body) {
  testing::internal::CaptureStderr();
  body();
  return koLines(testing::internal::GetCapturedStderr());
}

std::string loadedLine(const std::string& lt, const std::string& trunk, const std::string& head) {
  return "[ko_a2x] short-window w2v frontend loaded (LT=" + lt + ") trunk=" + trunk + " (" +
         std::to_string(w2v_file_bytes(trunk)) + " B) head=" + head + " (" +
         std::to_string(w2v_file_bytes(head)) + " B)";
}

std::string notDeployedLine(const std::string& w2vPath) {
  return "[ko_a2x] short-window audio frontend NOT DEPLOYED on this plane: neither "
         "KO_A2X_W2V_WIN_ONNX/KO_A2X_W2V_HEAD_ONNX are set nor is the pair beside $W2V_ONNX (" +
         w2vPath +
         ") as audio_encoder_fp16_window_{trunk,head}.onnx (legacy w2v_trunk32.onnx/w2v_head32.onnx). "
         "Serving the LEGACY 8s window — same reference quality, 2.8-3.9x the audio hop cost. Ship the pair "
         "beside the encoder (tools/export_w2v_window).";
}

TEST(SpeechEncoder, ServesTheFirstLoadedEncoderWhateverTheLaterPath) {
  TempDir dir;
  const std::string first = authoring::writeSpeechEncoderFiles(dir / "a");
  const std::string second = authoring::writeSpeechEncoderFiles(dir / "b");
  SpeechEncoder encoder;
  Ort::Session* session = encoder.get_shared_w2v(first, 1);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(encoder.get_shared_w2v(second, 1), session);
  EXPECT_EQ(encoder.get_shared_w2v(dir / "missing.onnx", 1), session);
  SpeechEncoder fresh;
  EXPECT_THROW(fresh.get_shared_w2v(dir / "missing.onnx", 1), Ort::Exception);
  EXPECT_NE(fresh.get_shared_w2v(first, 1), nullptr);
}

TEST(SpeechEncoder, FindsThePairExplicitlyOrBesideTheEncoder) {
  TempDir dir;
  const std::string window =
      authoring::writeSpeechEncoderFiles(dir / "window", {}, authoring::kWindowPairNames);
  const std::string legacyNames =
      authoring::writeSpeechEncoderFiles(dir / "t32", {}, authoring::kTrunk32PairNames);
  const std::string bare = authoring::writeSpeechEncoderFiles(dir / "bare");
  const std::string trunk32 = dir / "t32/w2v_trunk32.onnx";
  const std::string head32 = dir / "t32/w2v_head32.onnx";
  struct Case {
    const char* what;
    const char* explicitTrunk;
    const char* explicitHead;
    std::string w2vPath;
    bool loads;
    std::string line;
  };
  const Case cases[] = {
      {"first pair beside", nullptr, nullptr, window, true,
       loadedLine("399", dir / "window/audio_encoder_fp16_window_trunk.onnx",
                  dir / "window/audio_encoder_fp16_window_head.onnx")},
      {"second pair beside", nullptr, nullptr, legacyNames, true, loadedLine("399", trunk32, head32)},
      {"explicit paths win", trunk32.c_str(), head32.c_str(), bare, true, loadedLine("399", trunk32, head32)},
      {"one explicit path is ignored", trunk32.c_str(), "", bare, false, notDeployedLine(bare)},
      {"no encoder path", nullptr, nullptr, "", false, notDeployedLine("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv trunk("KO_A2X_W2V_WIN_ONNX", c.explicitTrunk);
    ScopedEnv head("KO_A2X_W2V_HEAD_ONNX", c.explicitHead);
    SpeechEncoder encoder;
    bool loaded = false;
    EXPECT_EQ(linesOf([&] { loaded = encoder.get_shared_w2v_win(1, c.w2vPath); }),
              std::vector<std::string>{c.line});
    EXPECT_EQ(loaded, c.loads);
    EXPECT_EQ(linesOf([&] { loaded = encoder.get_shared_w2v_win(1, c.w2vPath); }),
              std::vector<std::string>{});
    EXPECT_EQ(loaded, c.loads);
  }
}

TEST(SpeechEncoder, NeverRetriesAPairThatFailedToLoad) {
  TempDir dir;
  const std::string w2v = authoring::writeSpeechEncoderFiles(dir / "w2v", {}, authoring::kWindowPairNames);
  std::ofstream(dir / "w2v/audio_encoder_fp16_window_head.onnx", std::ios::trunc) << "not a model";
  SpeechEncoder encoder;
  const std::vector<std::string> lines = linesOf([&] { EXPECT_FALSE(encoder.get_shared_w2v_win(1, w2v)); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("[ko_a2x] short-window w2v load FAILED (")) << lines[0];
  EXPECT_TRUE(lines[0].ends_with(") — legacy 8s path")) << lines[0];
  authoring::writeSpeechEncoderFiles(dir / "w2v", {}, authoring::kWindowPairNames);
  EXPECT_TRUE(linesOf([&] { EXPECT_FALSE(encoder.get_shared_w2v_win(1, w2v)); }).empty());
}

TEST(SpeechEncoder, LearnsTheTrunkLengthFromItsFirstRun) {
  TempDir dir;
  authoring::SpeechRecipe recipe;
  recipe.trunkDeclaresLength = false;
  const std::string w2v =
      authoring::writeSpeechEncoderFiles(dir / "w2v", recipe, authoring::kWindowPairNames);
  SpeechEncoder encoder;
  EXPECT_EQ(
      linesOf([&] { EXPECT_TRUE(encoder.get_shared_w2v_win(1, w2v)); }),
      std::vector<std::string>{loadedLine("from-first-run", dir / "w2v/audio_encoder_fp16_window_trunk.onnx",
                                          dir / "w2v/audio_encoder_fp16_window_head.onnx")});
  EXPECT_EQ(encoder.trunkLength(), 0);
  std::vector<float> window(32000, 0.0f);
  encoder.runTrunk(window.data());
  EXPECT_EQ(encoder.trunkLength(), 399);
}

TEST(SpeechEncoder, ConcurrentFirstStreamsLoadOneEncoder) {
  A2xFixture fixture;
  std::vector<Ort::Session*> sessions(4, nullptr);
  std::vector<std::unique_ptr<A2xStream>> streams(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < sessions.size(); ++i) {
    threads.emplace_back([&, i] {
      streams[i] = fixture.stream();
      sessions[i] = fixture.encoder.get_shared_w2v(fixture.w2vPath, 1);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::set<Ort::Session*>(sessions.begin(), sessions.end()).size(), 1u);
  for (const auto& stream : streams) EXPECT_TRUE(stream->features.windowMode);
}

TEST(OwnerThread, RunsEncoderWorkOnOneThreadOnlyWhenCudaIsAsked) {
  const std::thread::id caller = std::this_thread::get_id();
  std::thread::id ranOn;
  ko_a2x_on_owner_thread([&] { ranOn = std::this_thread::get_id(); });
  EXPECT_EQ(ranOn, caller);

  ScopedEnv cuda("KO_A2X_CUDA", "1");
  std::set<std::thread::id> owners;
  std::vector<std::thread> callers;
  std::mutex seen;
  for (int i = 0; i < 3; ++i) {
    callers.emplace_back([&] {
      ko_a2x_on_owner_thread([&] {
        bool nestedInline = false;
        ko_a2x_on_owner_thread([&] { nestedInline = onOwnerThread(); });
        std::lock_guard<std::mutex> lock(seen);
        EXPECT_TRUE(nestedInline);
        owners.insert(std::this_thread::get_id());
      });
    });
  }
  for (std::thread& thread : callers) thread.join();
  ASSERT_EQ(owners.size(), 1u);
  EXPECT_NE(*owners.begin(), caller);
  EXPECT_THROW(ko_a2x_on_owner_thread([] { throw std::runtime_error("from the owner"); }),
               std::runtime_error);
}

TEST(CudaProvider, FallsBackToTheCpuWithOneLineAndOnlyForTheSpeechEncoder) {
  ortEnv();  // as in the library, an environment exists before any options are built
  EXPECT_TRUE(linesOf([] { audioSessionOptions(1, "w2v"); }).empty());
  ScopedEnv cuda("KO_A2X_CUDA", "1");
  EXPECT_TRUE(linesOf([] { audioSessionOptions(1, "enc/dec"); }).empty());
  const std::vector<std::string> lines = linesOf([] { audioSessionOptions(1, "w2v"); });
  ASSERT_EQ(lines.size(), 1u);
  // This runtime is built without CUDA; one that has it prints the "appended" line instead.
  EXPECT_TRUE(lines[0].starts_with("[ko_a2x] CUDA EP append failed (w2v): ") ||
              lines[0] == "[ko_a2x] CUDA EP appended (w2v, V2: no-max-workspace, mem<=3072MiB)")
      << lines[0];
  if (lines[0].starts_with("[ko_a2x] CUDA EP append failed")) {
    EXPECT_TRUE(lines[0].ends_with(" -- falling back to CPU")) << lines[0];
  }

  struct Case {
    const char* text;
    uint64_t mib;
  };
  for (const Case& c :
       {Case{nullptr, 3072}, Case{"0", 3072}, Case{"-5", 3072}, Case{"abc", 3072}, Case{"512", 512}}) {
    EXPECT_EQ(cudaMemoryMiB(c.text), c.mib) << (c.text ? c.text : "unset");
  }
}

TEST(CudaProvider, EncoderStillServesFromTheCpuOnTheOwnerThread) {
  ScopedEnv cuda("KO_A2X_CUDA", "1");
  A2xFixture fixture;
  std::unique_ptr<A2xStream> stream = fixture.stream();
  const std::vector<float> audio = speechAudio(2 * 16000);
  stream->push(audio.data(), static_cast<int64_t>(audio.size()));
  stream->finish();
  PulledFrames frames;
  pullAll(*stream, frames);
  EXPECT_EQ(frames.idx.size(), 50u);
}

// A graph ONNX Runtime refuses at every optimisation level, its refusal naming the node.
std::vector<uint8_t> refusedModel(const char* nodeName) {
  authoring::ModelBuilder m;
  m.input("a", {1, 3})
      .input("b", {4, 5})
      .output("y", {1, 5})
      .node("MatMul", {"a", "b"}, {"y"})
      .nodeName(nodeName);
  return m.bytes();
}

TEST(SpeechEncoderSession, ReopensAtBasicOptimisationOnlyForTheFloat16GeluRefusal) {
  TempDir dir;
  Ort::Env& env = ortEnv();
  struct Case {
    const char* node;
    bool reopens;
  };
  for (const Case& c :
       {Case{"Gelu_float16_fusion", true}, Case{"Gelu_only", false}, Case{"float16_only", false}}) {
    SCOPED_TRACE(c.node);
    const std::string path = dir / (std::string(c.node) + ".onnx");
    const std::vector<uint8_t> bytes = refusedModel(c.node);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Ort::SessionOptions options = audioSessionOptions(1, "w2v");
    const std::vector<std::string> lines =
        linesOf([&] { EXPECT_THROW(ko_a2x_open_session(env, path, options), Ort::Exception); });
    const std::string reopen =
        "[ko_a2x] " + path +
        ": ORT's level-2 Gelu fusion produced a float16 com.microsoft.Gelu this runtime has "
        "no CPU kernel for; reopening at ORT_ENABLE_BASIC";
    EXPECT_EQ(lines, c.reopens ? std::vector<std::string>{reopen} : std::vector<std::string>{});
  }
  const std::string good = authoring::writeSpeechEncoderFiles(dir / "w2v");
  Ort::SessionOptions options = audioSessionOptions(1, "w2v");
  EXPECT_TRUE(linesOf([&] { EXPECT_NE(ko_a2x_open_session(env, good, options), nullptr); }).empty());
}

}  // namespace
}  // namespace ko::test
