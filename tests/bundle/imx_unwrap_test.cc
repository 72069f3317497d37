#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "bundle/file_io.h"
#include "bundle/imx_container.h"
#include "bundle/paths.h"
#include "tests/support/authoring.h"
#include "tests/support/failure_text.h"
#include "tests/support/raw_imx.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::failureText;
using test::imxBytes;
using test::Member;
using test::RawEntry;
using test::rawImx;

struct Resolved {
  std::string dir;
  std::string log;
};

Resolved resolveLogged(const std::string& path) {
  ::testing::internal::CaptureStderr();
  Resolved out;
  try {
    out.dir = resolveBundlePath(path);
  } catch (...) {
    ::testing::internal::GetCapturedStderr();
    throw;
  }
  out.log = ::testing::internal::GetCapturedStderr();
  return out;
}

class Unwrap : public ::testing::Test {
 protected:
  std::string container(const std::string& name, const std::vector<Member>& members) {
    const std::string path = tmp_ / name;
    test::writeBytes(path, imxBytes(members));
    return path;
  }
  std::string failure(const std::string& path) {
    return failureText([&] { unwrapOnce(path); });
  }
  void touch(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 10, st.st_mtim.tv_nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }

  test::TempDir tmp_;
  test::ScopedEnv noRoot_{"KO_IMX_UNWRAP_ROOT", nullptr};
  const std::vector<Member> members_{
      {"manifest.json", "{}"}, {"idle_loop/source_index.i32", "0123"}, {"M.f32", "m"}};
};

TEST_F(Unwrap, UnpacksBesideTheContainerOnce) {
  const std::string path = container("x.imx", members_);
  const Resolved first = resolveLogged(path);
  EXPECT_EQ(first.dir, tmp_ / "x.kobundle");
  EXPECT_EQ(first.log, "[ko] unwrapped " + path + " -> " + first.dir + "\n");
  EXPECT_EQ(readFile(first.dir + "/idle_loop/source_index.i32"), "0123");
  EXPECT_EQ(readFile(first.dir + "/M.f32"), "m");

  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  const long long ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  EXPECT_EQ(readFile(tmp_ / "x.kobundle.imx_unwrapped"),
            "imx-unwrapped.v2 x.imx " + std::to_string(st.st_size) + " " + std::to_string(ns) + " " +
                std::to_string(st.st_ino));

  const Resolved second = resolveLogged(path);
  EXPECT_EQ(second.dir, first.dir);
  EXPECT_EQ(second.log, "");
}

TEST_F(Unwrap, AcceptsEveryWayOfNamingTheBundle) {
  const std::string path = container("y.kobundle.imx", members_);
  const std::string dir = tmp_ / "y.kobundle";
  EXPECT_EQ(resolveLogged(path).dir, dir);
  EXPECT_EQ(resolveLogged(tmp_ / "y.kobundle").dir, dir);   // the unwrap directory: container re-checked
  EXPECT_EQ(resolveLogged(tmp_ / "y.kobundle/").dir, dir);  // trailing slash
  const std::string odd = tmp_ / "odd.bin";                 // recognised by its header alone
  test::writeBytes(odd, imxBytes(members_));
  EXPECT_EQ(resolveLogged(odd).dir, tmp_ / "odd.bin.kobundle");
  container("z.imx", members_);
  EXPECT_EQ(resolveLogged(tmp_ / "z").dir, tmp_ / "z.kobundle");  // the container without ".imx"
}

TEST_F(Unwrap, LeavesPlainPathsAlone) {
  test::writeBytes(tmp_ / "plain/manifest.json", "{}");
  EXPECT_EQ(resolveBundlePath(tmp_ / "plain"), tmp_ / "plain");
  EXPECT_EQ(resolveBundlePath(tmp_ / "missing"), tmp_ / "missing");
  EXPECT_EQ(resolveBundlePath(""), "");
}

TEST_F(Unwrap, KeepsTheDirectoryOnceTheContainerIsGone) {
  const std::string path = container("gone.kobundle.imx", members_);
  const std::string dir = resolveLogged(path).dir;
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(resolveLogged(dir).dir, dir);
  EXPECT_EQ(readFile(dir + "/M.f32"), "m");
}

// The unwrap directory is named for a ".kobundle.imx" container, so naming it re-checks that container.
TEST_F(Unwrap, ReunwrapsAChangedContainerFromScratchWhetherItOrItsDirectoryIsNamed) {
  for (const bool viaDirectory : {false, true}) {
    SCOPED_TRACE(viaDirectory ? "via the directory" : "via the container");
    const std::string path = container(viaDirectory ? "w.kobundle.imx" : "x.imx", members_);
    const std::string dir = resolveLogged(path).dir;
    test::writeBytes(dir + "/stray", "left by someone");
    container(viaDirectory ? "w.kobundle.imx" : "x.imx", {{"manifest.json", "{}"}, {"new.bin", "n"}});
    touch(path);
    const Resolved again = resolveLogged(viaDirectory ? dir : path);
    EXPECT_NE(again.log.find("[ko] unwrapped"), std::string::npos);
    EXPECT_EQ(again.dir, dir);
    EXPECT_EQ(readFile(dir + "/new.bin"), "n");
    EXPECT_FALSE(pathExists(dir + "/M.f32"));
    EXPECT_FALSE(pathExists(dir + "/idle_loop"));
    EXPECT_FALSE(pathExists(dir + "/stray"));
  }
}

TEST_F(Unwrap, HonoursTheConfiguredRoot) {
  const std::string path = container("r.imx", members_);
  test::ScopedEnv root("KO_IMX_UNWRAP_ROOT", (tmp_ / "cache/sub//").c_str());
  EXPECT_EQ(resolveLogged(path).dir, tmp_ / "cache/sub/r.kobundle");
  EXPECT_TRUE(pathExists(tmp_ / "cache/sub/r.kobundle.imx_unwrapped"));
  EXPECT_FALSE(pathExists(tmp_ / "r.kobundle"));
}

TEST_F(Unwrap, EmptyContainerGivesAnEmptyDirectory) {
  const std::string path = container("e.imx", {});
  EXPECT_EQ(resolveLogged(path).dir, tmp_ / "e.kobundle");
  EXPECT_TRUE(isDirectory(tmp_ / "e.kobundle"));
  EXPECT_TRUE(pathExists(tmp_ / "e.kobundle.imx_unwrapped"));
}

TEST_F(Unwrap, KeepsMembersNamedLikeTemporaryFiles) {
  const std::string path = container("p.imx", {{"a.part", "first"}, {"a.part.1", "second"}, {"a", "third"}});
  const std::string dir = resolveLogged(path).dir;
  EXPECT_EQ(readFile(dir + "/a.part"), "first");
  EXPECT_EQ(readFile(dir + "/a.part.1"), "second");
  EXPECT_EQ(readFile(dir + "/a"), "third");
  EXPECT_FALSE(pathExists(dir + "/a.part.2"));
}

TEST_F(Unwrap, SkipsASyntheticManifest) {
  const std::string path =
      container("s.imx", {{"manifest.json", "{\"_imx_synthetic_manifest\": 1}"}, {"a", "1"}});
  const std::string dir = resolveLogged(path).dir;
  EXPECT_FALSE(pathExists(dir + "/manifest.json"));
  EXPECT_EQ(readFile(dir + "/a"), "1");
}

TEST_F(Unwrap, RefusesWhatIsNotAVersion2Container) {
  const std::pair<std::string, const char*> cases[] = {
      {std::string("IMX\0\2\0\0", 7), ": not an IMX\\0 container"},  // a header cut short
      {std::string("IMY\0\2\0\0\0", 8), ": not an IMX\\0 container"},
      {rawImx(3, 0, {}, ""), ": unsupported IMX container version 3"}};
  const std::string path = tmp_ / "bad.imx";
  for (const auto& [bytes, refusal] : cases) {
    test::writeBytes(path, bytes);
    EXPECT_FALSE(isImxV2File(path)) << bytes.size();
    EXPECT_EQ(failure(path), path + refusal);
  }
  EXPECT_TRUE(isImxV2File(container("ok.imx", {})));
  EXPECT_FALSE(isImxV2File(tmp_.path()));
  EXPECT_FALSE(isImxV2File(""));
  EXPECT_FALSE(isImxV2File(tmp_ / "absent.imx"));
}

TEST_F(Unwrap, RefusesATruncatedToc) {
  const std::string whole = rawImx(2, 2, {{"first", 0, 0}, {"second", 0, 0}}, "");
  const size_t firstEntry = 8 + 2 + 5 + 16;
  const std::pair<size_t, std::string> cuts[] = {
      {firstEntry + 1, ": truncated TOC at member 1"},
      {firstEntry + 2 + 3, ": truncated member name at 1"},
      {firstEntry + 2 + 6 + 15, ": truncated TOC offsets at member second"},
  };
  for (const auto& [length, message] : cuts) {
    const std::string path = tmp_ / "cut.imx";
    test::writeBytes(path, whole.substr(0, length));
    EXPECT_EQ(failure(path), path + message);
  }
}

TEST_F(Unwrap, TruncatedPayloadLeavesNoMarkerAndAGoodContainerRecovers) {
  const std::string path = tmp_ / "t.imx";
  const std::string good = imxBytes({{"a.bin", std::string(1000, 'a')}, {"b.bin", std::string(5000, 'b')}});
  test::writeBytes(path, good.substr(0, good.size() - 10));
  EXPECT_EQ(failure(path), path + ": truncated payload for member b.bin");
  const std::string dir = tmp_ / "t.kobundle";
  EXPECT_FALSE(pathExists(tmp_ / "t.kobundle.imx_unwrapped"));
  EXPECT_FALSE(pathExists(dir + "/b.bin"));
  EXPECT_FALSE(pathExists(dir + "/b.bin.part"));

  test::writeBytes(path, good);
  touch(path);
  EXPECT_EQ(resolveLogged(path).dir, dir);
  EXPECT_EQ(readFile(dir + "/b.bin"), std::string(5000, 'b'));
  EXPECT_TRUE(pathExists(tmp_ / "t.kobundle.imx_unwrapped"));
}

TEST_F(Unwrap, RefusesPayloadsOutsideTheFile) {
  const std::string base = tmp_ / "o.imx";
  test::writeBytes(base, rawImx(2, 1, {{"empty.bin", 4096, 0}}, "payload"));
  EXPECT_EQ(failure(base), base + ": truncated payload for member empty.bin");
  test::writeBytes(base, rawImx(2, 1, {{"wrap.bin", 40, ~0ULL - 20}}, "payload"));
  EXPECT_EQ(failure(base), base + ": truncated payload for member wrap.bin");
  test::writeBytes(base, rawImx(2, 1, {{"far.bin", ~0ULL - 5, 1}}, "payload"));
  EXPECT_EQ(failure(base), base + ": cannot seek to member far.bin");
  EXPECT_FALSE(pathExists(tmp_ / "o.kobundle.imx_unwrapped"));
}

TEST_F(Unwrap, RefusesUnsafeMemberNames) {
  const std::string names[] = {"../escape", "/abs", "\\win", "a/../../escape", "a..b", "",
                               "a/./b",     ".",    "a//b",  "dir/",           "./a"};
  for (const std::string& name : names) {
    const std::string path = tmp_ / "u.imx";
    test::writeBytes(path, rawImx(2, 2, {{"ok", 0, 0}, {name, 0, 0}}, ""));
    EXPECT_EQ(failure(path), path + ": refusing unsafe member name '" + name + "'") << name;
    EXPECT_FALSE(pathExists(tmp_ / "escape"));
    EXPECT_FALSE(pathExists(tmp_ / "u.kobundle.imx_unwrapped"));
  }
  // The message carries the name's bytes as they are, so a zero byte ends the C text early.
  const std::string path = tmp_ / "nul.imx";
  test::writeBytes(path, rawImx(2, 1, {{std::string("nul\0x", 5), 0, 0}}, ""));
  EXPECT_EQ(failure(path), path + ": refusing unsafe member name 'nul");
}

TEST_F(Unwrap, NeverWritesThroughALinkLeftInAnOldDirectory) {
  const std::string dir = tmp_ / "l.kobundle";
  ASSERT_TRUE(mkdirs(tmp_ / "elsewhere"));
  ASSERT_TRUE(mkdirs(dir));
  ASSERT_EQ(symlink((tmp_ / "elsewhere").c_str(), (dir + "/sub").c_str()), 0);
  const std::string path = container("l.imx", {{"sub/x.bin", "payload"}});
  EXPECT_EQ(resolveLogged(path).dir, dir);
  EXPECT_FALSE(pathExists(tmp_ / "elsewhere/x.bin"));
  struct stat st {};
  ASSERT_EQ(lstat((dir + "/sub").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(readFile(dir + "/sub/x.bin"), "payload");
}

TEST_F(Unwrap, ConcurrentResolvesUnpackOnce) {
  const std::string path =
      container("c.imx", {{"big.bin", std::string(3 << 20, 'z')}, {"manifest.json", "{}"}});
  std::string dirs[2];
  ::testing::internal::CaptureStderr();
  std::thread other([&] { dirs[1] = resolveBundlePath(path); });
  dirs[0] = resolveBundlePath(path);
  other.join();
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(dirs[0], tmp_ / "c.kobundle");
  EXPECT_EQ(dirs[1], dirs[0]);
  EXPECT_EQ(log, "[ko] unwrapped " + path + " -> " + dirs[0] + "\n");
  EXPECT_EQ(readFile(dirs[0] + "/big.bin").size(), size_t{3} << 20);
}

}  // namespace
}  // namespace ko
