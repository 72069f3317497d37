#include "bundle/drive.h"

#include <gtest/gtest.h>

#include <cstring>

#include "bundle/manifest.h"
#include "tests/support/failure_text.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::failureText;
using test::IdentityBuilder;
using test::IdentityRecipe;

template <class T>
std::vector<T> valuesOf(const std::string& bytes) {
  std::vector<T> values(bytes.size() / sizeof(T));
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
  return values;
}

std::string int32Bytes(int32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

class DriveLoad : public ::testing::Test {
 protected:
  Manifest write(const IdentityBuilder& identity) {
    dir_ = tmp_ / ("bundle" + std::to_string(++count_));
    identity.writeDirectory(dir_);
    return loadManifest(dir_);
  }
  std::string failure(const IdentityBuilder& identity) {
    const Manifest manifest = write(identity);
    return failureText([&] { loadDrive(manifest); });
  }
  void expectTablesOf(const Drive& drive, const IdentityBuilder& written) {
    EXPECT_EQ(drive.frames, written.recipe().frames);
    EXPECT_EQ(drive.xs, valuesOf<float>(written.payload("drive/xs.f32")));
    EXPECT_EQ(drive.xd, valuesOf<float>(written.payload("drive/xd.f32")));
    EXPECT_EQ(drive.si, valuesOf<int32_t>(written.payload("drive/si.i32")));
  }

  test::TempDir tmp_;
  std::string dir_;
  int count_ = 0;
};

TEST_F(DriveLoad, ReadsTheThreeTablesUnderEitherName) {
  for (const bool currentNames : {false, true}) {
    const IdentityBuilder written(IdentityRecipe{.frames = 5, .currentNames = currentNames});
    const Drive drive = loadDrive(write(written));
    ASSERT_EQ(drive.xs.size(), 5u * kKeypointFloats);
    expectTablesOf(drive, written);
  }
}

TEST_F(DriveLoad, PrefersTheDriveFolderOverTheIdleLoop) {
  IdentityBuilder written;
  written.member("idle_loop/source_keypoints.f32", std::string(written.payload("drive/xs.f32").size(), '\0'));
  expectTablesOf(loadDrive(write(written)), written);
}

TEST_F(DriveLoad, NoFramesNeedsThreeEmptyTables) {
  const IdentityBuilder empty(IdentityRecipe{.frames = 0});
  ASSERT_EQ(empty.payload("drive/si.i32"), "");
  const Drive drive = loadDrive(write(empty));
  EXPECT_EQ(drive.frames, 0);
  EXPECT_TRUE(drive.xs.empty() && drive.xd.empty() && drive.si.empty());
  const std::string refusal = failure(IdentityBuilder(IdentityRecipe{.frames = 0}).without("drive/si.i32"));
  EXPECT_EQ(refusal, "cannot open " + dir_ + "/drive/si.i32");
}

TEST_F(DriveLoad, RefusesSourceIndicesOutsideTheIdentity) {
  for (const int32_t si : {4, -1}) {
    IdentityBuilder written(IdentityRecipe{.NT = 4, .frames = 1, .currentNames = true});
    written.member("idle_loop/source_index.i32", int32Bytes(si));
    EXPECT_EQ(failure(written), "drive: si out of range") << si;
  }
}

TEST_F(DriveLoad, RefusesTablesOfTheWrongLength) {
  IdentityBuilder longTable;
  longTable.member("drive/xd.f32", longTable.payload("drive/xd.f32") + std::string(4, '\0'));
  std::string refusal = failure(longTable);
  EXPECT_EQ(refusal, "size mismatch " + dir_ + "/drive/xd.f32");
  IdentityBuilder shortIndex;
  shortIndex.member("drive/si.i32", shortIndex.payload("drive/si.i32").substr(1));
  refusal = failure(shortIndex);
  EXPECT_EQ(refusal, "size mismatch " + dir_ + "/drive/si.i32");
}

TEST_F(DriveLoad, ImpossibleFrameCountsFailBeforeAllocating) {
  // Two billion rows would be half a terabyte of keypoints; the short file says so first.
  std::string refusal = failure(IdentityBuilder().set("frames", "2000000000"));
  EXPECT_EQ(refusal, "size mismatch " + dir_ + "/drive/xs.f32");
  refusal = failure(IdentityBuilder().set("frames", "-1"));
  EXPECT_EQ(refusal, "cannot create std::vector larger than max_size()");
}

TEST(ReadRaw, ReadsExactlyTheCount) {
  test::TempDir tmp;
  const std::vector<float> values{1.5f, -2.0f, 0.25f};
  test::writeBytes(tmp / "t.f32", std::string(reinterpret_cast<const char*>(values.data()), 12));
  EXPECT_EQ(readRaw(tmp / "t.f32", 3), values);
  EXPECT_EQ(failureText([&] { readRaw(tmp / "t.f32", 4); }), "size mismatch " + tmp / "t.f32");
  EXPECT_EQ(failureText([&] { readRaw(tmp / "t.f32", 2); }), "size mismatch " + tmp / "t.f32");
  EXPECT_EQ(failureText([&] { readRaw(tmp / "none", 1); }), "cannot open " + tmp / "none");
}

}  // namespace
}  // namespace ko
