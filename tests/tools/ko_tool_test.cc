// The `ko` command-line host, run as a user would run it.
#include <gtest/gtest.h>

#include "bundle/file_io.h"
#include "tests/support/authoring.h"
#include "tests/support/ko_tool_run.h"
#include "tests/support/raw_imx.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

TEST(KoTool, PacksAndUnpacksABundle) {
  test::TempDir tmp;
  test::BundleBuilder().member("M.f32", "transform").writeDirectory(tmp / "src");
  const test::ToolRun pack = test::runKo("pack " + tmp / "src" + " " + tmp / "id.imx");
  ASSERT_EQ(pack.exitCode, 0) << pack.output;
  const test::ToolRun unpack = test::runKo("unpack " + tmp / "id.imx");
  ASSERT_EQ(unpack.exitCode, 0) << unpack.output;
  EXPECT_NE(unpack.output.find(tmp / "id.kobundle\n"), std::string::npos) << unpack.output;
  EXPECT_EQ(readFile(tmp / "id.kobundle/M.f32"), "transform");

  const test::ToolRun member = test::runKo("member " + tmp / "id.imx M.f32");
  EXPECT_EQ(member.exitCode, 0);
  EXPECT_EQ(member.output, tmp / "id.kobundle/M.f32\n");
  EXPECT_EQ(test::runKo("member " + tmp / "id.imx P.f16").exitCode, 1);
}

TEST(KoTool, PrintsTheLibraryErrorOnFailure) {
  test::TempDir tmp;
  test::writeBytes(tmp / "bad.imx", test::rawImx(2, 1, {}, ""));
  const test::ToolRun run = test::runKo("unpack " + tmp / "bad.imx");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "ko: ko_bundle_resolve_handle: " + tmp / "bad.imx" + ": truncated TOC at member 0\n");
  const test::ToolRun missing = test::runKo("unpack " + tmp / "missing");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.output,
            "ko unpack: " + tmp / "missing" + " is neither a bundle directory nor a container\n");
}

TEST(KoTool, RefusesUnsafeNamesWhenPacking) {
  test::TempDir tmp;
  test::writeBytes(tmp / "src/a..b", "x");
  const test::ToolRun run = test::runKo("pack " + tmp / "src" + " " + tmp / "out.imx");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "ko pack: refusing unsafe member name 'a..b'\n");
}

TEST(KoTool, ExplainsItsUsage) {
  EXPECT_EQ(test::runKo("").exitCode, 2);
  for (const char* command : {"--help", "pack --help", "unpack --help", "member -h"}) {
    const test::ToolRun run = test::runKo(command);
    EXPECT_EQ(run.exitCode, 0) << command;
    EXPECT_NE(run.output.find("usage: ko"), std::string::npos) << command;
  }
  const test::ToolRun unknown = test::runKo("frobnicate");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.output.find("ko: unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(test::runKo("pack only-one").exitCode, 2);
}

}  // namespace
}  // namespace ko
