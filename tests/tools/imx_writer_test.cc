#include "tools/imx/imx_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "bundle/bundle.h"
#include "bundle/paths.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/raw_imx.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

TEST(ImxIndex, MatchesAByteByByteLayout) {
  const std::string index = tools::encodeImxIndex({{"manifest.json", 3}, {"idle_loop/si.i32", 70000}});
  const unsigned long long firstPayload = 8 + (2 + 13 + 16) + (2 + 16 + 16);
  EXPECT_EQ(
      index,
      test::rawImx(2, 2, {{"manifest.json", firstPayload, 3}, {"idle_loop/si.i32", firstPayload + 3, 70000}},
                   ""));
}

TEST(ImxIndex, RefusesWhatTheReaderRefuses) {
  for (const char* name : {"../x", "/x", "a..b", "a/./b", ""}) {
    EXPECT_EQ(test::failureText([&] {
                tools::encodeImxIndex({{name, 0}});
              }),
              std::string("refusing unsafe member name '") + name + "'");
  }
}

TEST(PackDirectory, RoundTripsThroughTheUnwrap) {
  test::TempDir tmp;
  test::ScopedEnv noRoot("KO_IMX_UNWRAP_ROOT", nullptr);
  test::BundleBuilder bundle;
  bundle.member("idle_loop/source_index.i32", std::string(100000, '\x7f'))
      .member("deep/er/still.bin", "s")
      .member("empty.bin", "");
  bundle.writeDirectory(tmp / "src");
  ASSERT_EQ(symlink("empty.bin", (tmp / "src/linked.bin").c_str()), 0);
  tools::packImxDirectory(tmp / "src", tmp / "packed.imx");
  EXPECT_FALSE(pathExists(tmp / "packed.imx.part"));

  ::testing::internal::CaptureStderr();
  const std::string dir = resolveBundlePath(tmp / "packed.imx");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(tools::listBundleMembers(dir), tools::listBundleMembers(tmp / "src"));
  for (const auto& [name, bytes] : bundle.members()) EXPECT_EQ(readFile(dir + "/" + name), bytes) << name;
  EXPECT_EQ(readFile(dir + "/linked.bin"), "");
}

TEST(PackDirectory, LeavesNoContainerWhenItFails) {
  test::TempDir tmp;
  test::writeBytes(tmp / "src/a..b", "x");
  EXPECT_EQ(test::failureText([&] { tools::packImxDirectory(tmp / "src", tmp / "out.imx"); }),
            "refusing unsafe member name 'a..b'");
  EXPECT_FALSE(pathExists(tmp / "out.imx"));
  EXPECT_FALSE(pathExists(tmp / "out.imx.part"));
}

}  // namespace
}  // namespace ko
