#include "tests/support/utt_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "bundle/bundle.h"
#include "ko/utt_handle.h"
#include "tools/authoring/director_model.h"

namespace ko::test {
namespace {

authoring::MotionDirRecipe motionRecipe() {
  authoring::MotionDirRecipe recipe;
  recipe.nt = kUttNt;
  return recipe;
}

A2xSetup uttSetup() {
  A2xSetup setup;
  setup.motion = motionRecipe();
  return setup;
}

IdentityBuilder uttIdentity(int chunkBatch) {
  IdentityRecipe recipe;
  recipe.NT = kUttNt;
  IdentityBuilder identity(recipe);
  if (chunkBatch > 0) {
    DirectorRecipe chunk;
    chunk.batch = chunkBatch;
    const std::vector<uint8_t> model = directorModel(chunk);
    identity.member(std::string("model_") + kChunkModelKey + ".onnx",
                    std::string(model.begin(), model.end()));
  }
  return identity;
}

}  // namespace

UttFixture::UttFixture(int chunkBatch)
    : a2x(uttSetup()),
      bundleDir(bundles.write(uttIdentity(chunkBatch))),
      session(ko_create(bundleDir.c_str(), kModelKey, 1, nullptr)),
      xsTarget(readRaw(a2x.motionDir + "/xs_target.bin", static_cast<size_t>(kUttNt) * 63)) {
  EXPECT_NE(session, nullptr) << ko_last_error();
}

ko_utt_opts UttFixture::options() const {
  ko_utt_opts opts{};
  opts.motion_dir = a2x.motionDir.c_str();
  opts.threads = 1;
  opts.steady_model = "-";
  opts.end_gap_s = -1;
  return opts;
}

UttHandle UttFixture::start(const ko_utt_opts& opts) const {
  UttHandle utt(ko_utt_create(ctx(), &opts));
  EXPECT_NE(utt, nullptr) << ko_utt_last_error();
  if (!utt) return utt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ko_utt_ready(utt.get()) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(ko_utt_ready(utt.get()), 1) << ko_utt_last_error();
  return utt;
}

std::vector<PulledFrame> pullUntil(ko_utt* utt,
                                   const std::function<bool(const std::vector<PulledFrame>&)>& done,
                                   double seconds) {
  std::vector<PulledFrame> frames;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  PulledFrame frame;
  frame.pixels.resize(utt->pipeline.frameBytes());
  while (!done(frames)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the pipeline delivered " << frames.size() << " frames and then stalled";
      break;
    }
    if (utt->pipeline.pull(frame.pixels.data(), frame.pixels.size(), &frame.info, frame.kp.data()) ==
        utt::PullResult::Copied) {
      frames.push_back(frame);
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  return frames;
}

std::vector<PulledFrame> pullAvailable(ko_utt* utt) {
  std::vector<PulledFrame> frames;
  PulledFrame frame;
  frame.pixels.resize(utt->pipeline.frameBytes());
  while (utt->pipeline.pull(frame.pixels.data(), frame.pixels.size(), &frame.info, frame.kp.data()) ==
         utt::PullResult::Copied) {
    frames.push_back(frame);
  }
  return frames;
}

size_t countKind(const std::vector<PulledFrame>& frames, int32_t kind) {
  return static_cast<size_t>(
      std::count_if(frames.begin(), frames.end(), [&](const PulledFrame& f) { return f.info.kind == kind; }));
}

std::vector<PulledFrame> pullKind(ko_utt* utt, int32_t kind, size_t count) {
  return pullUntil(utt,
                   [&](const std::vector<PulledFrame>& frames) { return countKind(frames, kind) >= count; });
}

std::vector<int16_t> speechSamples(size_t samples, uint32_t seed) {
  const std::vector<float> audio = speechAudio(samples, seed);
  std::vector<int16_t> pcm(audio.size());
  std::transform(audio.begin(), audio.end(), pcm.begin(), [](float v) {
    return static_cast<int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
  });
  return pcm;
}

void pushSpeech(ko_utt* utt, const std::vector<int16_t>& samples, size_t piece) {
  for (size_t at = 0; at < samples.size(); at += piece) {
    const size_t count = std::min(piece, samples.size() - at);
    ASSERT_EQ(ko_utt_push_audio(utt, samples.data() + at, static_cast<int>(count)), 1) << ko_utt_last_error();
  }
}

}  // namespace ko::test
