// `ko render` and `ko info` on synthetic bundles: what they write is what the C interface renders,
// and their failures print the library's own text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "driver/image_io.h"
#include "driver/source.h"
#include "ko/ko.h"
#include "tests/support/c_handles.h"
#include "tests/support/ko_tool_run.h"
#include "tests/support/renderer_fixture.h"

namespace ko {
namespace {

using test::IdentityBuilder;
using test::SessionHandle;

class KoRender : public ::testing::Test {
 protected:
  // The frames the host should produce: idle-loop row t pasted into its source frame.
  std::vector<std::vector<uint8_t>> expectedFrames(int count) {
    const SessionHandle session(ko_create(dir_.c_str(), test::kModelKey, 1, nullptr));
    EXPECT_NE(session.get(), nullptr) << ko_last_error();
    const Drive drive = loadDrive(loadManifest(dir_));
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < count; ++i) {
      const int t = i % drive.frames;
      EXPECT_NE(ko_render_drive_crop(session.get(), t), nullptr) << ko_last_error();
      const uint8_t* frame = ko_paste_last(session.get(), drive.si[static_cast<size_t>(t)]);
      EXPECT_NE(frame, nullptr) << ko_last_error();
      frames.emplace_back(frame, frame + kFrameBytes);
    }
    return frames;
  }
  std::string render(const std::string& options) {
    return "render " + dir_ + " --model m4b --threads 1 " + options;
  }

  static constexpr int kW = 128, kH = 72;
  static constexpr size_t kFrameBytes = static_cast<size_t>(kW) * kH * 3;
  test::RendererBundles bundles_;
  std::string dir_ = bundles_.write(IdentityBuilder());
  test::TempDir out_;
};

double meanAbsoluteDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / static_cast<double>(a.size());
}

TEST_F(KoRender, WritesTheIdleLoopAsAMovieOfTheRenderedFramesAndASheet) {
  const test::ToolRun run =
      test::runKo(render("--frames 10 --out " + out_ / "demo.mp4 --sheet " + out_ / "sheet.png"));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("rendered 10 frames (128x72, crop 32)"), std::string::npos) << run.output;
  for (const char* stage : {"  render ", "  paste ", "  encode "})
    EXPECT_NE(run.output.find(stage), std::string::npos);

  const std::vector<std::vector<uint8_t>> expected = expectedFrames(10);
  const std::unique_ptr<driver::Source> movie = driver::openMp4(out_ / "demo.mp4", 10, kW, kH);
  std::vector<uint8_t> decoded(kFrameBytes);
  for (const std::vector<uint8_t>& frame : expected) {
    ASSERT_TRUE(movie->next(decoded.data()));
    EXPECT_LT(meanAbsoluteDifference(decoded, frame), 4.0);
  }
  EXPECT_FALSE(movie->next(decoded.data()));

  int width = 0, height = 0;
  const std::vector<uint8_t> sheet = loadImageRGB(out_ / "sheet.png", &width, &height);
  EXPECT_EQ(width, 4 * kW);
  EXPECT_EQ(height, 3 * kH);
}

TEST_F(KoRender, WritesPngFramesThatAreTheRenderedFramesExactly) {
  const test::ToolRun run = test::runKo(render("--frames 3 --out " + out_ / "frames"));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::vector<std::vector<uint8_t>> expected = expectedFrames(3);
  for (int i = 0; i < 3; ++i) {
    int width = 0, height = 0;
    const std::string name = out_ / ("frames/frame_00000" + std::to_string(i) + ".png");
    EXPECT_EQ(loadImageRGB(name, &width, &height), expected[static_cast<size_t>(i)]) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(out_ / "frames/frame_000003.png"));
}

TEST_F(KoRender, FailuresPrintTheLibrarysText) {
  const std::string missing = out_ / "missing";
  EXPECT_EQ(ko_create(missing.c_str(), "m4b", 1, nullptr), nullptr);
  const std::string openError = ko_last_error();
  test::ToolRun run = test::runKo("render " + missing + " --model m4b --out " + out_ / "x.mp4");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("ko: " + openError + "\n"), std::string::npos) << run.output;

  const SessionHandle session(ko_create(dir_.c_str(), "nope", 1, nullptr));
  ASSERT_NE(session.get(), nullptr);
  ASSERT_EQ(ko_render_drive_crop(session.get(), 0), nullptr);
  const std::string modelError = ko_last_error();
  run = test::runKo("render " + dir_ + " --model nope --out " + out_ / "x.mp4");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("ko: " + modelError + "\n"), std::string::npos) << run.output;
  run = test::runKo("info " + dir_ + " --model nope");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("ko: " + modelError + "\n"), std::string::npos) << run.output;
}

TEST_F(KoRender, RefusesIncompleteCommandLines) {
  for (const std::string& arguments : {"render " + dir_ + " --model m4b", "render " + dir_ + " --out x.mp4",
                                       render("--frames 0 --out x.mp4"), render("--out x.mp4 --colour red"),
                                       std::string("info"), "info " + dir_ + " --model"}) {
    const test::ToolRun run = test::runKo(arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments;
    EXPECT_NE(run.output.find("usage: ko"), std::string::npos) << arguments << "\n" << run.output;
  }
  for (const char* help : {"render --help", "info -h"}) EXPECT_EQ(test::runKo(help).exitCode, 0) << help;
}

TEST_F(KoRender, InfoReportsFiguresMembersAndTheDirector) {
  const test::ToolRun run = test::runKo("info " + dir_ + " --model m4b");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const std::string& line :
       {"bundle     " + dir_ + "\n",
        std::string("frames     4 source frames of 128x72, crop 32, idle loop of 8 rows\n"),
        std::string("  P.f16                (legacy name)\n"),
        std::string("  model_m4b.onnx               --model m4b\n"),
        std::string("prior      P.f16, mapped half-float tensors\n"),
        std::string("compose    no lip template: the director composes the mouth with its own ellipse\n"),
        std::string("[ko] director ep="), std::string("director   model_m4b.onnx: renders\n")}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }
}

TEST_F(KoRender, InfoReportsTheLipTemplateAndTheComposePathTaken) {
  const std::vector<uint8_t> director = test::directorModel({.composeTail = true});
  test::LipTemplateSpec lips;
  lips.canvas = 32;
  lips.uCanon = test::ellipseOutline(12);
  lips.lipIdx = {6, 7, 8, 9};
  lips.composeV2.push_back(test::composeV2Entry(director, "model_m4b.onnx"));
  const std::string dir =
      bundles_.write(IdentityBuilder().member("lip_template.v1.json", test::lipTemplateJson(lips)), director);
  const test::ToolRun run = test::runKo("info " + dir + " --model m4b");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const char* line :
       {"  lip_template.v1.json (legacy name)\n",
        "compose    lip_template.v1.json: the director's compose alpha follows the identity's lip contour; "
        "with "
        "--model the library reports whether it spliced the template's compose v2 graph or bound the contour "
        "to "
        "the graph's alpha\n",
        "[ko] compose: COMPOSE V2 (m4b) — lip contour + mouth-window compose + seam match"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }
}

TEST_F(KoRender, InfoNamesMembersStoredUnderCurrentNames) {
  const std::string dir = bundles_.write(IdentityBuilder({.currentNames = true}));
  const test::ToolRun run = test::runKo("info " + dir);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("  M.f32                paste_transform.f32\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("  drive/si.i32         idle_loop/source_index.i32\n"), std::string::npos);
  EXPECT_NE(run.output.find("  head_weights         tessera_head.v1.pt (missing)\n"), std::string::npos);
  EXPECT_NE(
      run.output.find("borrow     refused: missing teeth member(s): bank_track (tessera_bank.v1.mp4), "),
      std::string::npos);
}

TEST_F(KoRender, InfoSaysTheTeethBorrowArmsWhenAllFourMembersAreThere) {
  const std::string dir = bundles_.write(IdentityBuilder({.teeth = true}));
  const test::ToolRun run = test::runKo("info " + dir);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("  bank_track           tessera_bank.v1.mp4\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("borrow     arms: 4 donors, stored patch 28x16, bank h264 rgb24 in mp4\n"),
            std::string::npos);
}

}  // namespace
}  // namespace ko
