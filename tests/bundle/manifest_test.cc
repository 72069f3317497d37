#include "bundle/manifest.h"

#include <gtest/gtest.h>

#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::BundleBuilder;
using test::failureText;

class ManifestLoad : public ::testing::Test {
 protected:
  std::string write(const BundleBuilder& bundle) {
    const std::string dir = tmp_ / ("bundle" + std::to_string(++count_));
    bundle.writeDirectory(dir);
    return dir;
  }
  std::string failure(const BundleBuilder& bundle) {
    const std::string dir = write(bundle);
    return failureText([&] { loadManifest(dir); });
  }

  test::TempDir tmp_;
  test::ScopedEnv noOverride_{"VELMORA2_MSRC_MISSING_OK", nullptr};
  int count_ = 0;
};

TEST_F(ManifestLoad, ReadsEveryFigure) {
  const std::string dir = write(BundleBuilder().set("amount", "0.75").set("sigma", "1.5").set("ksize", "7"));
  const Manifest m = loadManifest(dir);
  EXPECT_EQ(m.dir, dir);
  EXPECT_EQ(m.agent, "synthetic");
  EXPECT_EQ(m.NT, 4);
  EXPECT_EQ(m.H, 72);
  EXPECT_EQ(m.W, 128);
  EXPECT_EQ(m.crop, 32);
  EXPECT_FLOAT_EQ(m.amount, 0.75f);
  EXPECT_FLOAT_EQ(m.sigma, 1.5f);
  EXPECT_EQ(m.ksize, 7);
  EXPECT_EQ(m.frames, 8);
  EXPECT_EQ(m.M_src_w, 128);
  EXPECT_EQ(m.M_src_h, 72);
  EXPECT_EQ(m.lipTemplate, "");
}

// Each member name is overridden by a non-empty string only; anything else keeps the default.
TEST_F(ManifestLoad, ReadsTheDriverAndPriorMemberNames) {
  const Manifest unnamed = loadManifest(write(BundleBuilder()));
  EXPECT_EQ(unnamed.driverFrames, "target_frames");
  EXPECT_EQ(unnamed.driverMovie, "target_frames.mp4");
  EXPECT_EQ(unnamed.priorRaw, "P.f16");
  EXPECT_EQ(unnamed.priorMovie, "");
  EXPECT_EQ(unnamed.priorMovieMember(), "P_hevc.mov");
  const Manifest named = loadManifest(write(BundleBuilder()
                                                .set("target_frames", "\"frames\"")
                                                .set("target_frames_mp4", "\"drive.mp4\"")
                                                .set("P_rgb", "\"\"")
                                                .set("P_hevc", "\"prior.mov\"")));
  EXPECT_EQ(named.driverFrames, "frames");
  EXPECT_EQ(named.driverMovie, "drive.mp4");
  EXPECT_EQ(named.priorRaw, "P.f16");
  EXPECT_EQ(named.priorMovieMember(), "prior.mov");
  const Manifest blank = loadManifest(write(BundleBuilder().set("P_hevc", "\"\"").set("target_frames", "3")));
  EXPECT_EQ(blank.priorMovie, "");
  EXPECT_EQ(blank.driverFrames, "target_frames");
}

TEST_F(ManifestLoad, AcceptsLegacyKeyNames) {
  const Manifest m = loadManifest(write(BundleBuilder()
                                            .erase("NT")
                                            .erase("crop")
                                            .erase("M_src_w")
                                            .erase("M_src_h")
                                            .set("frame_count", "11")
                                            .set("crop_size", "511.9")
                                            .set("paste_source_width", "1920")
                                            .set("paste_source_height", "1080")));
  EXPECT_EQ(m.NT, 11);
  EXPECT_EQ(m.crop, 511);
  EXPECT_EQ(m.M_src_w, 1920);
  EXPECT_EQ(m.M_src_h, 1080);
}

TEST_F(ManifestLoad, CurrentNamesWinOverLegacyNames) {
  const Manifest m =
      loadManifest(write(BundleBuilder().set("paste_source_width", "9").set("frame_count", "99")));
  EXPECT_EQ(m.M_src_w, 128);
  EXPECT_EQ(m.NT, 4);
}

TEST_F(ManifestLoad, RootValueWinsOverNestedBlocks) {
  const Manifest m = loadManifest(write(BundleBuilder().set("tessera", R"({"NT": 77, "W": [1]})")));
  EXPECT_EQ(m.NT, 4);
  EXPECT_EQ(m.W, 128);
}

TEST_F(ManifestLoad, RefusesAmbiguousNestedKeys) {
  const std::string text =
      failure(BundleBuilder().erase("crop").set("a", R"({"crop": 64})").set("b", R"({"crop": 96})"));
  EXPECT_NE(text.find("manifest: key \"crop\" is AMBIGUOUS \u2014 2 scalar occurrences (byte "),
            std::string::npos)
      << text;
  const Manifest single = loadManifest(write(BundleBuilder().erase("crop").set("a", R"({"crop": 64})")));
  EXPECT_EQ(single.crop, 64);
}

TEST_F(ManifestLoad, NamesMissingKeys) {
  EXPECT_EQ(failure(BundleBuilder().set("W", R"({"px": 5})")), "manifest: missing key W");
  EXPECT_EQ(failure(BundleBuilder().erase("NT")), "manifest: missing key NT/frame_count");
  EXPECT_EQ(failure(BundleBuilder().erase("ksize")), "manifest: missing key ksize");
  EXPECT_EQ(failure(BundleBuilder().erase("agent")), "manifest: missing key agent");
  EXPECT_EQ(failure(BundleBuilder().set("agent", "17")), "manifest: bad string agent");
}

TEST_F(ManifestLoad, RefusesOtherFormats) {
  for (const char* format : {R"("ko-bundle-v1")", R"("")", "0"}) {
    const std::string dir = tmp_ / "format";
    BundleBuilder().set("format", format).writeDirectory(dir);
    EXPECT_EQ(failureText([&] { loadManifest(dir); }), "not an ko-bundle-v0: " + dir) << format;
  }
  const std::string dir = write(BundleBuilder().erase("format"));
  EXPECT_EQ(failureText([&] { loadManifest(dir); }), "not an ko-bundle-v0: " + dir);
}

TEST_F(ManifestLoad, RefusesSizesBelowOne) {
  for (const char* key : {"NT", "H", "W", "crop"}) {
    EXPECT_EQ(failure(BundleBuilder().set(key, "0.5")), "manifest: bad dims") << key;
  }
}

TEST_F(ManifestLoad, RefusesAMissingPasteStamp) {
  const std::string dir = write(BundleBuilder().erase("M_src_h"));
  EXPECT_EQ(
      failureText([&] { loadManifest(dir); }),
      dir +
          "/manifest.json declares no paste-space stamp (M_src_w/M_src_h, aka paste_source_width/height) "
          "\u2014 the canvas is 128x72, so M cannot be placed: absence is not evidence that M was authored "
          "at that size. Re-stamp the bundle (models/velmora-2/inference/backfill_msrc), or set "
          "VELMORA2_MSRC_MISSING_OK=1 to restore the legacy assumption.");
}

TEST_F(ManifestLoad, MissingStampOverrideAssumesTheCanvas) {
  const std::string dir = write(BundleBuilder().erase("M_src_w").erase("M_src_h"));
  {
    test::ScopedEnv override("VELMORA2_MSRC_MISSING_OK", "1");
    ::testing::internal::CaptureStderr();
    const Manifest m = loadManifest(dir);
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "[ko] WARNING VELMORA2_MSRC_MISSING_OK=1: " + dir +
            "/manifest.json carries no paste-space stamp; ASSUMING M was authored on this 128x72 canvas. If "
            "it was not, the face pastes off-target (qd#144) and nothing will say so.\n");
    EXPECT_EQ(m.M_src_w, 128);
    EXPECT_EQ(m.M_src_h, 72);
  }
  test::ScopedEnv otherValue("VELMORA2_MSRC_MISSING_OK", "true");
  EXPECT_NE(failureText([&] { loadManifest(dir); }).find("declares no paste-space stamp"), std::string::npos);
}

TEST_F(ManifestLoad, RefusesAZeroStampEvenWithTheOverride) {
  test::ScopedEnv override("VELMORA2_MSRC_MISSING_OK", "1");
  EXPECT_EQ(failure(BundleBuilder().set("M_src_w", "0")),
            "manifest: bad paste-space stamp (M_src_w/M_src_h must be > 0)");
}

TEST_F(ManifestLoad, ReportsAnUnopenableManifest) {
  const std::string dir = tmp_ / "empty";
  test::writeBytes(dir + "/other", "");
  EXPECT_EQ(failureText([&] { loadManifest(dir); }), "cannot open " + dir + "/manifest.json");
  test::writeBytes(dir + "/manifest.json/inside", "");
  EXPECT_EQ(failureText([&] { loadManifest(dir); }), "cannot open " + dir + "/manifest.json");
}

TEST_F(ManifestLoad, CarriesTheLipTemplateText) {
  const std::string templateText = R"({"v": 1, "points": [[0, 1]]})";
  EXPECT_EQ(loadManifest(write(BundleBuilder().member("lip_template.v1.json", templateText))).lipTemplate,
            templateText);
}

TEST_F(ManifestLoad, LoadsFromAContainer) {
  const std::string container = tmp_ / "id.imx";
  BundleBuilder().set("NT", "6").writeContainer(container);
  ::testing::internal::CaptureStderr();
  const Manifest m = loadManifest(container);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(m.dir, tmp_ / "id.kobundle");
  EXPECT_EQ(m.NT, 6);
}

TEST_F(ManifestLoad, ModelPathFollowsMemberAliases) {
  const std::string dir = write(BundleBuilder().member("render_model.batch4.fp16.onnx", "x"));
  const Manifest m = loadManifest(dir);
  EXPECT_EQ(m.modelPath("b4_fp16"), dir + "/render_model.batch4.fp16.onnx");
  EXPECT_EQ(m.modelPath("b2"), dir + "/model_b2.onnx");
  EXPECT_EQ(m.modelPath("lite"), dir + "/model_lite.onnx");
}

}  // namespace
}  // namespace ko
