// Teeth in a running pipeline: an armed borrow finishes every rendered crop before it is pasted,
// inline or on the teeth thread; its first refusal disarms it and frames go on without teeth; a
// failing attach changes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ko/utt_handle.h"
#include "tessera/stream_borrow.h"
#include "tests/support/pi_frames.h"
#include "tests/support/teeth_scene.h"
#include "tests/support/utt_fixture.h"

namespace ko::test {
namespace {

using tessera::FrameResult;
using tessera::StreamBorrow;
using utt::kBlend;
using utt::kIdle;
using utt::kSpeech;

constexpr int32_t kCrop = 32;

// A 16 x 8 mouth window around the centre of the fixture's 32 crop, with room to shift by 12.
constexpr tessera::GeometryStamp kStamp{kCrop, kCrop, 8, 12, 16, 8, 12, 1, 7, 2, 14, 1};

// The bank, weights and knobs the borrows of these tests are built from; the canonical centre is the
// idle poses' own, unless moved.
struct BorrowParts {
  TeethScene scene = teethScene(8, 17, kStamp);
  tessera::UnifiedPi pi = tessera::test::propPi(kCrop);

  BorrowParts(const UttFixture& fixture, double moveCentre) {
    pi.canonicalCentroid(fixture.xsTarget.data(), kUttNt, &scene.bank.c_canon[0], &scene.bank.c_canon[1]);
    scene.bank.c_canon[0] += moveCentre;
  }
  std::shared_ptr<StreamBorrow> borrow() const {
    return std::make_shared<StreamBorrow>(scene.bank, scene.weights, scene.config, pi, "");
  }
};

std::vector<PulledFrame> speakOneUtterance(ko_utt* utt, size_t samples = 19200) {
  pushSpeech(utt, speechSamples(samples));
  ko_utt_end_utterance(utt);
  return pullUntil(
      utt, [](const auto& got) { return countKind(got, kBlend) == 3 && got.back().info.kind == kIdle; });
}

class UttTeeth : public testing::TestWithParam<const char*> {};

// Every delivered crop frame is the session's own crop with the borrow's window written back, as a
// borrow run offline over the same crops in the same order gives it.
TEST_P(UttTeeth, EveryRenderedFrameIsPastedWithTheBorrowsWindow) {
  ScopedEnv paste("KO_UTT_PIPELINE_PASTE", GetParam());
  UttFixture fixture;
  ko_utt_opts opts = fixture.options();
  opts.ramp_frames = 3;
  UttHandle utt = fixture.start(opts);
  const BorrowParts parts(fixture, 0.0);
  utt->pipeline.attachTeeth(parts.borrow(), "fixture geometry");
  const std::vector<PulledFrame> frames = speakOneUtterance(utt.get());
  uint64_t applied = 0, refused = 0;
  char text[256] = "stale";
  EXPECT_EQ(ko_utt_tessera_stats(utt.get(), &applied, &refused, text, sizeof text), 1) << text;
  double mean = -1, largest = -1;
  int64_t count = 0;
  EXPECT_EQ(ko_utt_tessera_synth_w(utt.get(), &mean, &largest, &count), 1);
  char geometry[64];
  EXPECT_EQ(ko_utt_tessera_geometry(utt.get(), geometry, sizeof geometry), 1);
  utt.reset();
  EXPECT_STREQ(geometry, "fixture geometry");
  EXPECT_EQ(refused, 0u);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(mean, 0.0);
  EXPECT_EQ(largest, 0.0);

  StreamBorrow offline = *parts.borrow();
  std::vector<const PulledFrame*> rendered;
  for (const PulledFrame& frame : frames) {
    if (frame.info.kind != kIdle) rendered.push_back(&frame);
  }
  ASSERT_EQ(rendered.size(), 33u);
  EXPECT_EQ(applied, rendered.size());
  EXPECT_EQ(count, static_cast<int64_t>(rendered.size()));
  // Crop k is rendered from the row's idle pose for a blend frame and from the model's xs otherwise;
  // the model's xs of a speech frame is its row's idle pose too in this fixture's motion directory.
  std::vector<std::vector<float>> crops;
  for (const PulledFrame* frame : rendered) {
    const float* crop = ko_render_kp_crop(fixture.ctx(), frame->info.row, fixture.idlePose(frame->info.row),
                                          frame->kp.data());
    ASSERT_NE(crop, nullptr) << ko_last_error();
    crops.emplace_back(crop, crop + 3 * kCrop * kCrop);
  }
  FrameResult result;
  size_t next = 0;
  const auto expectFrame = [&](const FrameResult& r) {
    std::vector<float>& crop = crops[next];
    StreamBorrow::writeWindowDelta(crop.data(), kCrop, r, kStamp);
    std::vector<uint8_t> expected(rendered[next]->pixels.size());
    ASSERT_EQ(
        ko_paste_crop(fixture.ctx(), rendered[next]->info.row, crop.data(), expected.data(), expected.size()),
        1);
    EXPECT_EQ(expected, rendered[next]->pixels) << "frame " << next;
    ++next;
  };
  for (size_t k = 0; k < crops.size(); ++k) {
    std::vector<float> copy = crops[k];
    if (offline.push(copy.data(), rendered[k]->kp.data(), result)) expectFrame(result);
  }
  ASSERT_TRUE(offline.flush(result));
  expectFrame(result);
}

INSTANTIATE_TEST_SUITE_P(InlineAndThreaded, UttTeeth, testing::Values("0", "1"));

TEST(UttTeethFailure, ARefusalDisarmsTheBorrowAndTheUtteranceGoesOnWithoutTeeth) {
  ScopedEnv paste("KO_UTT_PIPELINE_PASTE", "1");
  UttFixture fixture;
  ko_utt_opts opts = fixture.options();
  opts.ramp_frames = 3;
  UttHandle utt = fixture.start(opts);
  // A canonical centre 20 px off puts every mouth past the pad.
  utt->pipeline.attachTeeth(BorrowParts(fixture, 20.0).borrow(), "off centre");
  const std::vector<PulledFrame> frames = speakOneUtterance(utt.get());
  uint64_t applied = 7, refused = 0;
  char text[64];
  EXPECT_EQ(ko_utt_tessera_stats(utt.get(), &applied, &refused, text, sizeof text), -1);
  EXPECT_STREQ(text, "shift-out-of-range");
  EXPECT_EQ(applied, 0u);
  EXPECT_EQ(refused, 1u);
  // The refused frame, the one pushed with it and what waited for the teeth thread are not delivered:
  // the 8 queued jobs and the one a producer blocked on the full queue was handing in. The rest of
  // the 30 come without teeth.
  const size_t speech = countKind(frames, kSpeech);
  EXPECT_LE(speech, 28u);
  EXPECT_GE(speech, 19u);
}

TEST(UttTeethAttach, RefusesInOneSentenceAndAFailedAttachKeepsTheBorrow) {
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  BorrowParts parts(fixture, 0.0);
  utt->pipeline.attachTeeth(parts.borrow(), "first");
  const tessera::BankData& b = parts.scene.bank;
  int32_t stamp[12];
  kStamp.toFields(stamp);
  const std::string manifest = tessera::test::manifestWith(tessera::test::piBlock(), R"({"canvas": 32})");
  struct Case {
    const char* name;
    ko_utt* pipeline;
    int32_t donors;
    int field;  // a stamp field to break, -1 for none
    int32_t value;
    const uint8_t* pt;
    std::string text;
  };
  const auto* pt = reinterpret_cast<const uint8_t*>(parts.scene.headPt.data());
  const std::string prefix = "ko_utt_tessera_attach: ";
  const Case cases[] = {
      {"no pipeline", nullptr, 8, -1, 0, pt, prefix + "null session"},
      {"no archive", utt.get(), 8, -1, 0, nullptr,
       prefix + "a required member is null \xe2\x80\x94 this ABI has no partial-attach state"},
      {"no donors", utt.get(), 0, -1, 0, pt, prefix + "n_donors <= 0"},
      {"incoherent stamp", utt.get(), 8, 6, 0, pt,
       prefix + "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;"},
      {"other canvas", utt.get(), 8, 1, 34, pt, prefix + "bank canvas 32x34 != this bundle's render crop 32"},
  };
  for (const Case& c : cases) {
    int32_t broken[12];
    std::copy(std::begin(stamp), std::end(stamp), broken);
    if (c.field >= 0) broken[c.field] = c.value;
    char err[256] = "stale";
    EXPECT_EQ(ko_utt_tessera_attach(c.pipeline, b.bands.data(), c.donors, b.cent.data(), b.c_canon,
                                    b.aperture.data(), broken, c.pt,
                                    static_cast<uint32_t>(parts.scene.headPt.size()),
                                    parts.scene.headJson.c_str(), manifest.c_str(), err, sizeof err),
              1)
        << c.name;
    EXPECT_EQ(err, c.text) << c.name;
  }
  // Past the member checks, a 32 crop cannot tell the corpus geometries apart.
  char err[512];
  EXPECT_EQ(ko_utt_tessera_attach(utt.get(), b.bands.data(), 8, b.cent.data(), b.c_canon, b.aperture.data(),
                                  stamp, pt, static_cast<uint32_t>(parts.scene.headPt.size()),
                                  parts.scene.headJson.c_str(), manifest.c_str(), err, sizeof err),
            1);
  EXPECT_EQ(std::string(err).rfind(prefix + "teeth-pi: corpus pi geometry is AMBIGUOUS", 0), 0u) << err;

  char geometry[16];
  EXPECT_EQ(ko_utt_tessera_geometry(utt.get(), geometry, sizeof geometry), 1);
  EXPECT_STREQ(geometry, "first");
  EXPECT_EQ(ko_utt_tessera_stats(utt.get(), nullptr, nullptr, nullptr, 0), 1);
  utt->pipeline.attachTeeth(parts.borrow(), "second");
  EXPECT_EQ(ko_utt_tessera_geometry(utt.get(), geometry, sizeof geometry), 1);
  EXPECT_STREQ(geometry, "second");
}

// A pipeline whose teeth run on the teeth thread, armed with the idle poses' own centre.
class ThreadedTeeth : public testing::Test {
 protected:
  ThreadedTeeth() { utt->pipeline.attachTeeth(parts.borrow(), "held"); }
  ScopedEnv paste{"KO_UTT_PIPELINE_PASTE", "1"};
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  const BorrowParts parts{fixture, 0.0};
};

// The borrow answers a crop when the next one arrives: while an open utterance waits for speech the
// last rendered frame stays held, and ending the utterance lets it out ahead of the blend.
TEST_F(ThreadedTeeth, TheLastRenderedFrameWaitsForTheNextOne) {
  pushSpeech(utt.get(), speechSamples(32000));
  std::vector<PulledFrame> frames = pullKind(utt.get(), kSpeech, 1);
  // Pull until nothing new has been rendered or delivered for half a second: the model has served
  // what the audio allows.
  int64_t rendered = -1;
  for (auto quiet = std::chrono::steady_clock::now();
       std::chrono::steady_clock::now() - quiet < std::chrono::milliseconds(500);) {
    const std::vector<PulledFrame> more = pullAvailable(utt.get());
    const int64_t now = utt->pipeline.stageTotals().speechRendered;
    if (!more.empty() || now != rendered) quiet = std::chrono::steady_clock::now();
    rendered = now;
    frames.insert(frames.end(), more.begin(), more.end());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(static_cast<int64_t>(countKind(frames, kSpeech)), rendered - 1);
  ko_utt_end_utterance(utt.get());
  const std::vector<PulledFrame> rest = pullKind(utt.get(), kBlend, 1);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest.front().info.kind, kSpeech);
  EXPECT_EQ(static_cast<int64_t>(countKind(frames, kSpeech) + countKind(rest, kSpeech)),
            utt->pipeline.stageTotals().speechRendered);
}

// Interrupting or destroying while the teeth thread holds a frame neither leaks nor hangs; after
// an interrupt the borrow starts empty and the blend back to idle still comes.
TEST_F(ThreadedTeeth, InterruptAndDestroyWhileAFrameIsHeld) {
  pushSpeech(utt.get(), speechSamples(64000));
  ko_utt_end_utterance(utt.get());
  pullKind(utt.get(), kSpeech, 3);
  ko_utt_interrupt(utt.get());
  const std::vector<PulledFrame> after =
      pullUntil(utt.get(), [](const auto& got) { return !got.empty() && got.back().info.kind == kIdle; });
  EXPECT_GT(countKind(after, kBlend), 0u);
  EXPECT_EQ(ko_utt_tessera_stats(utt.get(), nullptr, nullptr, nullptr, 0), 1);
  utt->pipeline.attachTeeth(parts.borrow(), "again");
  pushSpeech(utt.get(), speechSamples(32000));
  ko_utt_end_utterance(utt.get());
  pullKind(utt.get(), kSpeech, 2);
  utt.reset();
}

}  // namespace
}  // namespace ko::test
