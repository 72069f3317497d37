#include "bundle/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "bundle/file_io.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

TEST(PathHelpers, StripSplitAndJoinLikeTheShell) {
  EXPECT_EQ(rstripSlash("a/b///"), "a/b");
  EXPECT_EQ(rstripSlash("///"), "/");
  EXPECT_EQ(rstripSlash(""), "");
  EXPECT_EQ(baseName("a/b/c.imx"), "c.imx");
  EXPECT_EQ(baseName("a/b/"), "b");
  EXPECT_EQ(baseName("c"), "c");
  EXPECT_EQ(baseName("/"), "");
  EXPECT_EQ(dirName("a/b/c"), "a/b");
  EXPECT_EQ(dirName("a/b/"), "a");
  EXPECT_EQ(dirName("c"), ".");
  EXPECT_EQ(dirName("/c"), "/");
  EXPECT_EQ(dirName("/"), "/");
}

TEST(RmTree, RemovesEverythingButNeverFollowsLinks) {
  test::TempDir tmp;
  test::writeBytes(tmp / "outside/keep.txt", "keep");
  test::writeBytes(tmp / "tree/a/b/file", "x");
  ASSERT_EQ(symlink((tmp / "outside").c_str(), (tmp / "tree/a/link").c_str()), 0);
  rmTree(tmp / "tree");
  EXPECT_FALSE(pathExists(tmp / "tree"));
  EXPECT_EQ(readFile(tmp / "outside/keep.txt"), "keep");
  rmTree(tmp / "does-not-exist");
}

TEST(Mkdirs, CreatesParentsAndToleratesWhatExists) {
  test::TempDir tmp;
  EXPECT_TRUE(mkdirs(tmp / "x/y/z"));
  EXPECT_TRUE(isDirectory(tmp / "x/y/z"));
  EXPECT_TRUE(mkdirs(tmp / "x/y/z"));
  EXPECT_TRUE(mkdirs(""));
  EXPECT_TRUE(mkdirs("."));
  test::writeBytes(tmp / "file", "");
  EXPECT_FALSE(mkdirs(tmp / "file/sub"));
}

}  // namespace
}  // namespace ko
