// The pipeline's options with their defaults and environment overrides, and the stage report's two
// lines.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/support/a2x_fixture.h"
#include "tests/support/failure_text.h"
#include "utt/stage_report.h"
#include "utt/utt_settings.h"

namespace ko::test {
namespace {

using utt::UttRequest;
using utt::UttSettings;

TEST(UttSettings, ApplyDefaultsOptionsAndEnvironment) {
  A2xFixture a2x;
  TempDir motionOnly;
  struct Case {
    const char* what;
    std::function<void(UttRequest&)> ask;
    std::vector<std::pair<const char*, const char*>> env;
    std::function<void(const UttSettings&)> check;
  };
  const auto request = [&](const std::string& dir) {
    UttRequest r;
    r.motionDir = dir;
    return r;
  };
  const Case cases[] = {
      {"defaults",
       [](UttRequest&) {},
       {},
       [](const UttSettings& s) {
         EXPECT_EQ(s.kind, utt::ModelKind::A2x);
         EXPECT_EQ(s.threads, 6);
         EXPECT_EQ(s.steadyModel, "b24_fp32");
         EXPECT_EQ(s.eager, -1);
         EXPECT_FALSE(s.hybrid);
         EXPECT_EQ(s.endGapMs, 600);
         EXPECT_EQ(s.rampFrames, 6);
         EXPECT_EQ(s.interruptRampFrames, 4);
         EXPECT_TRUE(s.pipelinedPaste);
         EXPECT_FALSE(s.onsetRow);
         EXPECT_FALSE(s.stageReport);
       }},
      {"options",
       [](UttRequest& r) {
         r.threads = 2;
         r.steadyModel = "-";
         r.eager = 5;
         r.endGapS = 0.25;
         r.rampFrames = 9;
         r.interruptRampFrames = 2;
       },
       {},
       [](const UttSettings& s) {
         EXPECT_EQ(s.threads, 2);
         EXPECT_EQ(s.steadyModel, "");
         EXPECT_EQ(s.eager, 5);
         EXPECT_EQ(s.endGapMs, 250);
         EXPECT_EQ(s.rampFrames, 9);
         EXPECT_EQ(s.interruptRampFrames, 2);
       }},
      {"never ending",
       [](UttRequest& r) { r.endGapS = -1; },
       {},
       [](const UttSettings& s) { EXPECT_FALSE(s.endGapMs); }},
      {"NaN gap",
       [](UttRequest& r) { r.endGapS = std::nan(""); },
       {},
       [](const UttSettings& s) { EXPECT_FALSE(s.endGapMs); }},
      {"hybrid asked",
       [](UttRequest& r) { r.eager = -2; },
       {{"KO_UTT_HYBRID", "0"}},
       [](const UttSettings& s) { EXPECT_TRUE(s.hybrid); }},
      {"hybrid from the environment",
       [](UttRequest&) {},
       {{"KO_UTT_HYBRID", "yes"}},
       [](const UttSettings& s) { EXPECT_TRUE(s.hybrid); }},
      {"hybrid off by \"0\"",
       [](UttRequest&) {},
       {{"KO_UTT_HYBRID", "0"}},
       [](const UttSettings& s) { EXPECT_FALSE(s.hybrid); }},
      {"fixed eager ignores the environment",
       [](UttRequest& r) { r.eager = 2; },
       {{"KO_UTT_HYBRID", "1"}},
       [](const UttSettings& s) { EXPECT_FALSE(s.hybrid); }},
      {"steady model replaced",
       [](UttRequest& r) { r.steadyModel = "b8"; },
       {{"KO_STEADY_MODEL", "-"}},
       [](const UttSettings& s) { EXPECT_EQ(s.steadyModel, ""); }},
      {"onset row modulo NT",
       [](UttRequest&) {},
       {{"KO_UTT_ONSET_SI", "7"}},
       [](const UttSettings& s) { EXPECT_EQ(s.onsetRow, 2); }},
      {"negative onset ignored",
       [](UttRequest&) {},
       {{"KO_UTT_ONSET_SI", "-1"}},
       [](const UttSettings& s) { EXPECT_FALSE(s.onsetRow); }},
      {"inline paste asked",
       [](UttRequest&) {},
       {{"KO_UTT_PIPELINE_PASTE", "0"}, {"KO_UTT_STAGE_REPORT", ""}},
       [](const UttSettings& s) {
         EXPECT_FALSE(s.pipelinedPaste);
         EXPECT_TRUE(s.stageReport);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const auto& [name, value] : c.env) env.push_back(std::make_unique<ScopedEnv>(name, value));
    UttRequest r = request(a2x.motionDir);
    c.ask(r);
    c.check(utt::resolveUttSettings(r, 5, 6));
  }
  const UttSettings motion = utt::resolveUttSettings(request(motionOnly.path()), 5, 6);
  EXPECT_EQ(motion.kind, utt::ModelKind::Motion);
  EXPECT_FALSE(motion.pipelinedPaste);
  EXPECT_EQ(failureText([&] { utt::resolveUttSettings(request(""), 5, 6); }), "opts.motion_dir required");
}

TEST(UttStageReport, SaysWhatWasMeasuredOrThatNothingWas) {
  utt::StageTotals totals;
  totals.speechRendered = 4;
  totals.timedSpeech = 4;
  EXPECT_EQ(
      utt::stageReport(totals),
      "[ko_utt-stage] MEASURED NOTHING — the stage report was asked for and the paste-job counter never "
      "advanced (pipe=0 jobsB=0 jobsC=0, 4 speech frames delivered). stageA/stageB/stageC and the deliver "
      "latency are NOT reported rather than reported as zero: on this path the paste does not run through "
      "the "
      "counted queue.\n");
  totals.renderMs = 40;
  totals.renderWaitMs = 8;
  totals.pasteJobs = 5;
  totals.pasteMs = 10;
  totals.deliverLatencyMs = 6;
  EXPECT_EQ(
      utt::stageReport(totals),
      "[ko_utt-stage] pipe=0 jobsB=0 jobsC=5 stageA_ms=10.000 stageA_work_ms=8.000 stageA_wait_ms=2.000 "
      "stageB_ms=0.000 stageC_ms=2.000 deliver_lat_ms=1.500 over 4 speech frames\n");
}

}  // namespace
}  // namespace ko::test
