// The `ko` command-line host, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "bundle/file_io.h"
#include "tests/support/authoring.h"
#include "tests/support/raw_imx.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

ToolRun runKo(const std::string& arguments) {
  const std::string command = "env -u KO_IMX_UNWRAP_ROOT " KO_TOOL_PATH " " + arguments + " 2>&1";
  ToolRun run;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> chunk;
  size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.output.append(chunk.data(), got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(KoTool, PacksAndUnpacksABundle) {
  test::TempDir tmp;
  test::BundleBuilder().member("M.f32", "transform").writeDirectory(tmp / "src");
  const ToolRun pack = runKo("pack " + tmp / "src" + " " + tmp / "id.imx");
  ASSERT_EQ(pack.exitCode, 0) << pack.output;
  const ToolRun unpack = runKo("unpack " + tmp / "id.imx");
  ASSERT_EQ(unpack.exitCode, 0) << unpack.output;
  EXPECT_NE(unpack.output.find(tmp / "id.kobundle\n"), std::string::npos) << unpack.output;
  EXPECT_EQ(readFile(tmp / "id.kobundle/M.f32"), "transform");

  const ToolRun member = runKo("member " + tmp / "id.imx M.f32");
  EXPECT_EQ(member.exitCode, 0);
  EXPECT_EQ(member.output, tmp / "id.kobundle/M.f32\n");
  EXPECT_EQ(runKo("member " + tmp / "id.imx P.f16").exitCode, 1);
}

TEST(KoTool, PrintsTheLibraryErrorOnFailure) {
  test::TempDir tmp;
  test::writeBytes(tmp / "bad.imx", test::rawImx(2, 1, {}, ""));
  const ToolRun run = runKo("unpack " + tmp / "bad.imx");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "ko: ko_bundle_resolve_handle: " + tmp / "bad.imx" + ": truncated TOC at member 0\n");
  const ToolRun missing = runKo("unpack " + tmp / "missing");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.output,
            "ko unpack: " + tmp / "missing" + " is neither a bundle directory nor a container\n");
}

TEST(KoTool, RefusesUnsafeNamesWhenPacking) {
  test::TempDir tmp;
  test::writeBytes(tmp / "src/a..b", "x");
  const ToolRun run = runKo("pack " + tmp / "src" + " " + tmp / "out.imx");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "ko pack: refusing unsafe member name 'a..b'\n");
}

TEST(KoTool, ExplainsItsUsage) {
  EXPECT_EQ(runKo("").exitCode, 2);
  for (const char* command : {"--help", "pack --help", "unpack --help", "member -h"}) {
    const ToolRun run = runKo(command);
    EXPECT_EQ(run.exitCode, 0) << command;
    EXPECT_NE(run.output.find("usage: ko"), std::string::npos) << command;
  }
  const ToolRun unknown = runKo("frobnicate");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.output.find("ko: unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(runKo("pack only-one").exitCode, 2);
}

}  // namespace
}  // namespace ko
