// The exported resolve calls against the C++ functions they wrap.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "bundle/bundle.h"
#include "ko/ko.h"
#include "tests/support/authoring.h"
#include "tests/support/raw_imx.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::BundleBuilder;

class BundleCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    BundleBuilder().member("paste_transform.f32", "m").writeContainer(container_);
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override { ::testing::internal::GetCapturedStderr(); }

  test::TempDir tmp_;
  test::ScopedEnv noRoot_{"KO_IMX_UNWRAP_ROOT", nullptr};
  const std::string container_ = tmp_ / "b.imx";
  char out_[4096] = {};
};

TEST_F(BundleCalls, ResolveHandleMatchesTheLibraryResolution) {
  ASSERT_EQ(ko_bundle_resolve_handle(container_.c_str(), out_, sizeof out_), 1);
  EXPECT_EQ(std::string(out_), resolveBundlePath(container_));
  EXPECT_STREQ(ko_last_error(), "");
}

TEST_F(BundleCalls, ResolveHandleRefusesASmallBuffer) {
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(ko_bundle_resolve_handle(container_.c_str(), small, sizeof small), -1);
  EXPECT_STREQ(small, "");
  EXPECT_STREQ(ko_last_error(), "ko_bundle_resolve_handle: buffer too small");
  const std::string dir = resolveBundlePath(container_);
  std::vector<char> exact(dir.size() + 1);
  EXPECT_EQ(ko_bundle_resolve_handle(container_.c_str(), exact.data(), exact.size()), 1);
  EXPECT_STREQ(ko_last_error(), "");
}

TEST_F(BundleCalls, ResolveHandleReportsUnpackFailures) {
  const std::string broken = tmp_ / "broken.imx";
  test::writeBytes(broken, test::rawImx(2, 1, {}, ""));
  EXPECT_EQ(ko_bundle_resolve_handle(broken.c_str(), out_, sizeof out_), -1);
  EXPECT_STREQ(out_, "");
  EXPECT_EQ(std::string(ko_last_error()),
            "ko_bundle_resolve_handle: " + broken + ": truncated TOC at member 0");
  EXPECT_EQ(ko_bundle_resolve_handle(container_.c_str(), out_, sizeof out_), 1);
  EXPECT_STREQ(ko_last_error(), "");
}

// A bad argument fails without a text of its own, and clears the one an earlier failure left.
TEST_F(BundleCalls, NullArgumentsFailWithoutText) {
  char small[2];
  const std::function<int()> calls[] = {
      [&] { return ko_bundle_resolve_handle(nullptr, out_, sizeof out_); },
      [&] { return ko_bundle_resolve_handle(container_.c_str(), nullptr, 10); },
      [&] { return ko_bundle_resolve_handle(container_.c_str(), out_, 0); },
      [&] { return ko_bundle_resolve_member(nullptr, "M.f32", out_, sizeof out_); },
      [&] { return ko_bundle_resolve_member(container_.c_str(), nullptr, out_, sizeof out_); },
      [&] { return ko_bundle_resolve_member(container_.c_str(), "M.f32", nullptr, 1); },
      [&] { return ko_bundle_resolve_member(container_.c_str(), "M.f32", out_, 0); },
  };
  for (const auto& call : calls) {
    ASSERT_EQ(ko_bundle_resolve_member(container_.c_str(), "M.f32", small, sizeof small), -1);
    ASSERT_STRNE(ko_last_error(), "");
    EXPECT_EQ(call(), -1);
    EXPECT_STREQ(ko_last_error(), "");
  }
}

TEST_F(BundleCalls, ResolveMemberMatchesTheLibraryLookup) {
  const std::string dir = resolveBundlePath(container_);
  EXPECT_EQ(ko_bundle_resolve_member(container_.c_str(), "M.f32", out_, sizeof out_), 1);
  EXPECT_EQ(std::string(out_), resolveMember(dir, "M.f32"));
  EXPECT_EQ(std::string(out_), dir + "/paste_transform.f32");
  EXPECT_EQ(ko_bundle_resolve_member(container_.c_str(), "mask_512.u8", out_, sizeof out_), 0);
  EXPECT_EQ(std::string(out_), dir + "/mask_512.u8");
  EXPECT_STREQ(ko_last_error(), "");
}

TEST_F(BundleCalls, ResolveMemberRefusesASmallBuffer) {
  char small[8] = {'x'};
  EXPECT_EQ(ko_bundle_resolve_member(container_.c_str(), "M.f32", small, sizeof small), -1);
  EXPECT_STREQ(small, "");
  EXPECT_STREQ(ko_last_error(), "ko_bundle_resolve_member: buffer too small");
}

TEST_F(BundleCalls, ResolveMemberReportsUnpackFailures) {
  const std::string unsafe = tmp_ / "unsafe.imx";
  test::writeBytes(unsafe, test::rawImx(2, 1, {{"../x", 0, 0}}, ""));
  EXPECT_EQ(ko_bundle_resolve_member(unsafe.c_str(), "M.f32", out_, sizeof out_), -1);
  EXPECT_STREQ(out_, "");
  EXPECT_EQ(std::string(ko_last_error()),
            "ko_bundle_resolve_member: " + unsafe + ": refusing unsafe member name '../x'");
}

TEST_F(BundleCalls, ConcurrentCallersShareOneUnpack) {
  std::string dirs[4];
  std::vector<std::thread> threads;
  for (std::string& dir : dirs) {
    threads.emplace_back([&] {
      char out[4096];
      if (ko_bundle_resolve_handle(container_.c_str(), out, sizeof out) == 1) dir = out;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& dir : dirs) EXPECT_EQ(dir, tmp_ / "b.kobundle");
}

}  // namespace
}  // namespace ko
