// The offline stream: the frame plan, the two-thread ring against scripted steps, and the exported
// calls against the session's own render and paste calls on a synthetic bundle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "ko/ko.h"
#include "ko/ko_a2x.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/c_handles.h"
#include "tests/support/renderer_fixture.h"
#include "tools/authoring/speech_models.h"
#include "utt/offline_run.h"

namespace ko::test {
namespace {

using utt::OfflineFrame;

TEST(OfflinePlan, RowsWalkForwardFromZeroAfterTheSkippedFrames) {
  struct Case {
    int64_t frames;
    int32_t nt, skip;
    std::vector<int32_t> rows;
  };
  const Case cases[] = {{7, 3, 2, {2, 0, 1, 2, 0}}, {4, 1, 0, {0, 0, 0, 0}}, {3, 5, 3, {}}, {2, 4, 9, {}}};
  for (const Case& c : cases) {
    const std::vector<float> xsTarget = authoring::idleKeypoints(c.nt);
    std::vector<float> deltas(static_cast<size_t>(c.frames) * 63);
    for (size_t i = 0; i < deltas.size(); ++i) deltas[i] = 0.01f * static_cast<float>(i);
    const std::vector<OfflineFrame> plan =
        utt::planOfflineFrames(deltas.data(), c.frames, xsTarget, c.nt, c.skip, 0.5f);
    ASSERT_EQ(plan.size(), c.rows.size()) << c.frames << " frames, skip " << c.skip;
    for (size_t j = 0; j < plan.size(); ++j) {
      EXPECT_EQ(plan[j].row, c.rows[j]);
      EXPECT_EQ(plan[j].xs, xsTarget.data() + plan[j].row * 63);
      const size_t t = j + static_cast<size_t>(c.skip);
      for (int i = 0; i < 63; ++i) EXPECT_EQ(plan[j].kp[i], plan[j].xs[i] + 0.5f * deltas[t * 63 + i]);
    }
  }
}

// A render that fills the crop with the frame's row and a paste that copies it out, failing where
// told; the render also records how many crops were ahead of the paste when it started.
class ScriptedSteps final : public utt::OfflineSteps {
 public:
  ScriptedSteps(int64_t renderFailsAt, int64_t pasteFailsAt)
      : renderFailsAt_(renderFailsAt), pasteFailsAt_(pasteFailsAt) {}

  const float* render(const OfflineFrame& frame) override {
    const int64_t index = rendered_++;
    maxAhead_ = std::max(maxAhead_, index - pasted_.load());
    if (index == renderFailsAt_) return nullptr;
    crop_.assign(crop_.size(), static_cast<float>(frame.row));
    return crop_.data();
  }
  bool paste(const OfflineFrame&, const float* crop, uint8_t* out) override {
    if (pasted_ == pasteFailsAt_) return false;
    out[0] = static_cast<uint8_t>(crop[0]);
    out[1] = static_cast<uint8_t>(crop[kCrop - 1]);
    ++pasted_;
    return true;
  }
  int64_t maxAhead() const { return maxAhead_; }

  static constexpr size_t kCrop = 12;

 private:
  int64_t renderFailsAt_, pasteFailsAt_;
  int64_t rendered_ = 0, maxAhead_ = 0;
  std::atomic<int64_t> pasted_{0};
  std::vector<float> crop_ = std::vector<float>(kCrop);
};

TEST(OfflineRunner, DeliversInOrderStopsAtAFailureAndKeepsAtMostFourCropsAhead) {
  struct Case {
    int64_t renderFailsAt, pasteFailsAt;
    bool slowCallback;
    int64_t delivered;
    bool failed;
  };
  const Case cases[] = {
      {-1, -1, true, 20, false}, {7, -1, false, 7, true}, {-1, 5, true, 5, true}, {0, -1, false, 0, true}};
  std::vector<OfflineFrame> plan(20);
  for (size_t j = 0; j < plan.size(); ++j) plan[j].row = static_cast<int32_t>(j);
  utt::OfflineRunner runner(ScriptedSteps::kCrop, 2);
  for (const Case& c : cases) {
    ScriptedSteps steps(c.renderFailsAt, c.pasteFailsAt);
    std::vector<int64_t> indices;
    const utt::OfflineRunResult result = runner.run(plan, steps, [&](int64_t index, const uint8_t* frame) {
      EXPECT_EQ(frame[0], index);
      EXPECT_EQ(frame[1], index);
      indices.push_back(index);
      if (c.slowCallback) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    EXPECT_EQ(result.delivered, c.delivered);
    EXPECT_EQ(result.failed, c.failed);
    ASSERT_EQ(static_cast<int64_t>(indices.size()), c.delivered);
    for (size_t j = 0; j < indices.size(); ++j) EXPECT_EQ(indices[j], static_cast<int64_t>(j));
    EXPECT_LE(steps.maxAhead(), utt::kOfflineRingSlots);
    if (c.slowCallback && !c.failed) {
      EXPECT_EQ(steps.maxAhead(), utt::kOfflineRingSlots);
    }
  }
}

struct StreamCloser {
  void operator()(ko_stream* stream) const { ko_stream_destroy(stream); }
};
using StreamHandle = std::unique_ptr<ko_stream, StreamCloser>;

constexpr int kNt = 3;

// A bundle with a director under "model_render.onnx", the FCA network and the idle keypoints, and the
// 8 s encoder beside it.
class OfflineStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new TempDir();
    bundles_ = new RendererBundles();
    encoder_ = authoring::writeSpeechEncoderFiles(scratch_->path());
    bundle_ = bundles_->write(identity(true, kNt * 63));
  }
  static void TearDownTestSuite() {
    delete bundles_;
    delete scratch_;
  }

  static IdentityBuilder identity(bool withFca, int idleFloats) {
    IdentityRecipe recipe;
    recipe.NT = kNt;
    IdentityBuilder builder(recipe);
    const std::vector<uint8_t> director = directorModel(DirectorRecipe{});
    builder.member("model_render.onnx", std::string(director.begin(), director.end()));
    std::vector<float> idle = authoring::idleKeypoints(kNt);
    idle.resize(static_cast<size_t>(idleFloats));
    if (idleFloats > 0) builder.member("xs_target.bin", authoring::memberBytes(idle));
    if (withFca) builder.member("fca_stream.onnx", authoring::memberBytes(authoring::fcaStream()));
    return builder;
  }

  static StreamHandle open(const std::string& bundle, int skip, float gain) {
    return StreamHandle(ko_stream_create(bundle.c_str(), encoder_.c_str(), 1, skip, gain));
  }

  struct Delivered {
    std::vector<int> indices;
    std::vector<std::vector<uint8_t>> frames;
  };
  static void collect(void* user, int index, const uint8_t* rgb, int width, int height) {
    auto* delivered = static_cast<Delivered*>(user);
    delivered->indices.push_back(index);
    delivered->frames.emplace_back(rgb, rgb + static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  }

  static TempDir* scratch_;
  static RendererBundles* bundles_;
  static std::string encoder_;
  static std::string bundle_;
};

TempDir* OfflineStreamTest::scratch_ = nullptr;
RendererBundles* OfflineStreamTest::bundles_ = nullptr;
std::string OfflineStreamTest::encoder_;
std::string OfflineStreamTest::bundle_;

TEST_F(OfflineStreamTest, EveryFrameIsTheSessionsRenderAndPasteOfItsPlannedKeypoints) {
  constexpr int kSkip = 2;
  constexpr float kGain = 0.5f;
  const StreamHandle stream = open(bundle_, kSkip, kGain);
  ASSERT_NE(stream, nullptr) << ko_stream_last_error();
  const std::vector<float> audio = speechAudio(8 * 640 - 300);
  Delivered delivered;
  ASSERT_EQ(ko_stream_run(stream.get(), audio.data(), static_cast<int>(audio.size()), collect, &delivered), 6)
      << ko_stream_last_error();
  EXPECT_EQ(delivered.indices, (std::vector<int>{0, 1, 2, 3, 4, 5}));

  const SessionHandle ctx(ko_create(bundle_.c_str(), "render", 1, ""));
  std::unique_ptr<ko_fca, void (*)(ko_fca*)> fca(
      ko_fca_create(encoder_.c_str(), (bundle_ + "/fca_stream.onnx").c_str(), 1), ko_fca_destroy);
  ASSERT_TRUE(ctx && fca);
  std::vector<float> deltas(8 * 63);
  ASSERT_EQ(ko_fca_deltas(fca.get(), audio.data(), static_cast<int>(audio.size()), deltas.data(), 8), 8);
  const std::vector<float> idle = authoring::idleKeypoints(kNt);
  std::vector<uint8_t> expected(static_cast<size_t>(ko_width(ctx.get())) * ko_height(ctx.get()) * 3);
  for (int j = 0; j < 6; ++j) {
    const int t = j + kSkip, row = t % kNt;
    std::vector<float> kp(63);
    for (int i = 0; i < 63; ++i) kp[i] = idle[row * 63 + i] + kGain * deltas[t * 63 + i];
    const float* crop = ko_render_kp_crop(ctx.get(), row, idle.data() + row * 63, kp.data());
    ASSERT_NE(crop, nullptr) << ko_last_error();
    ASSERT_EQ(ko_paste_crop(ctx.get(), row, crop, expected.data(), expected.size()), 1) << ko_last_error();
    EXPECT_EQ(delivered.frames[j], expected) << "frame " << j;
  }
  EXPECT_EQ(ko_stream_width(stream.get()), ko_width(ctx.get()));
  EXPECT_EQ(ko_stream_height(stream.get()), ko_height(ctx.get()));
}

TEST_F(OfflineStreamTest, EmptyRunsFailedRunsAndTheNextRun) {
  const StreamHandle stream = open(bundle_, 4, 1.0f);
  ASSERT_NE(stream, nullptr) << ko_stream_last_error();
  const std::vector<float> audio = speechAudio(5 * 640);
  Delivered delivered;
  EXPECT_EQ(ko_stream_run(stream.get(), audio.data(), 4 * 640, collect, &delivered), 0);
  EXPECT_EQ(ko_stream_run(stream.get(), audio.data(), 0, collect, &delivered), 0);
  EXPECT_TRUE(delivered.indices.empty());

  EXPECT_EQ(ko_stream_run(stream.get(), nullptr, 640, collect, &delivered), -1);
  EXPECT_STREQ(ko_stream_last_error(), "ko_fca_deltas: ko_fca_deltas: NULL samples/out");
  EXPECT_EQ(ko_stream_run(stream.get(), audio.data(), 640, nullptr, nullptr), -1);
  EXPECT_STREQ(ko_stream_last_error(), "ko_stream_run: NULL stream/callback");
  EXPECT_EQ(ko_stream_run(nullptr, audio.data(), 640, collect, &delivered), -1);
  EXPECT_EQ(ko_stream_run(stream.get(), audio.data(), 5 * 640, collect, &delivered), 1)
      << ko_stream_last_error();
  EXPECT_STREQ(ko_stream_last_error(), "");
  EXPECT_EQ(delivered.indices, (std::vector<int>{0}));
}

TEST_F(OfflineStreamTest, CreationRefusesWhatItCannotRunAndReleasesWhatItBuilt) {
  struct Case {
    std::string bundle;
    int skip;
    float gain;
    std::string text;  // the whole text, or its start when it ends in a space
  };
  const std::string noFca = bundles_->write(identity(false, kNt * 63));
  const Case cases[] = {
      {bundles_->write(identity(true, kNt * 63 - 1)), 0, 1.0f,
       "ko_stream_create: cannot read xs_target.bin (NT*63 f32)"},
      {bundles_->write(identity(true, 0)), 0, 1.0f,
       "ko_stream_create: cannot read xs_target.bin (NT*63 f32)"},
      {noFca, 0, 1.0f, "ko_fca_create: Load model from "},
      {scratch_->path() + "/absent", 0, 1.0f, "ko_create: cannot open "},
      {bundle_, -1, 1.0f, "ko_stream_create: skip must be 0 or more"},
      {bundle_, 0, std::nanf(""), "ko_stream_create: gain must be finite"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(open(c.bundle, c.skip, c.gain), nullptr);
    const std::string text = ko_stream_last_error();
    if (c.text.ends_with(" ")) {
      EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
    } else {
      EXPECT_EQ(text, c.text);
    }
  }
}

}  // namespace
}  // namespace ko::test
