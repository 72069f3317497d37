#include <gtest/gtest.h>

#include <cstdlib>

#include "driver/source.h"
#include "tests/support/failure_text.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::failureText;

constexpr int kW = 48;
constexpr int kH = 32;

// JPEG keeps the smooth test frames within a few levels; neighbouring frames differ by dozens.
void expectFrame(const std::vector<uint8_t>& got, int index) {
  const std::vector<uint8_t> written = test::driverFrameRGB(index, kW, kH);
  ASSERT_EQ(got.size(), written.size());
  long total = 0;
  int worst = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const int diff = std::abs(got[i] - written[i]);
    total += diff;
    worst = std::max(worst, diff);
  }
  EXPECT_LE(static_cast<double>(total) / static_cast<double>(got.size()), 1.5) << "frame " << index;
  EXPECT_LE(worst, 12) << "frame " << index;
}

class JpgDirSource : public ::testing::Test {
 protected:
  std::unique_ptr<driver::Source> open(int NT) { return driver::openJpgDir(dir_, NT, kW, kH); }
  std::vector<uint8_t> next(driver::Source& source) {
    std::vector<uint8_t> frame(source.frameBytes());
    EXPECT_TRUE(source.next(frame.data()));
    return frame;
  }

  test::TempDir tmp_;
  std::string dir_ = tmp_ / "target_frames";
};

TEST_F(JpgDirSource, DeliversEveryFrameAsWrittenThenStops) {
  test::writeDriverFrames(dir_, 0, 6, kW, kH);
  auto source = open(6);
  EXPECT_EQ(source->frameBytes(), size_t{kW * kH * 3});
  EXPECT_EQ(source->name(), "jpg/stb");
  EXPECT_EQ(source->residentBytes(), 0u);
  for (int i = 0; i < 6; ++i) expectFrame(next(*source), i);
  std::vector<uint8_t> untouched(source->frameBytes(), 0xAB);
  EXPECT_FALSE(source->next(untouched.data()));
  EXPECT_EQ(untouched, std::vector<uint8_t>(untouched.size(), 0xAB));
  source->rewind();
  expectFrame(next(*source), 0);
}

TEST_F(JpgDirSource, EmptyMemberReadsNothing) {
  auto source = driver::openJpgDir(tmp_ / "never/created", 0, kW, kH);
  uint8_t pixel = 0;
  EXPECT_FALSE(source->next(&pixel));
}

TEST_F(JpgDirSource, RefusesAFrameOfAnotherSizeAndStaysOnIt) {
  test::writeDriverFrames(dir_, 0, 5, kW, kH);
  test::writeBytes(dir_ + "/frame_000005.jpg",
                   test::jpegBytes(test::driverFrameRGB(5, kW - 1, kH), kW - 1, kH));
  auto source = open(6);
  for (int i = 0; i < 5; ++i) expectFrame(next(*source), i);
  std::vector<uint8_t> frame(source->frameBytes());
  const std::string refusal =
      "ko_driver: " + dir_ + "/frame_000005.jpg is 47x32, the manifest says 48x32 \u2014 refusing";
  EXPECT_EQ(failureText([&] { source->next(frame.data()); }), refusal);
  EXPECT_EQ(failureText([&] { source->next(frame.data()); }), refusal);
}

TEST_F(JpgDirSource, SeeksOnlyInsideTheMember) {
  test::writeDriverFrames(dir_, 0, 4, kW, kH);
  auto source = open(4);
  for (const int outside : {-1, 4}) {
    EXPECT_EQ(failureText([&] { source->seek(outside); }), "ko_driver: seek outside the member");
  }
  source->seek(3);
  expectFrame(next(*source), 3);
  std::vector<uint8_t> frame(source->frameBytes());
  EXPECT_FALSE(source->next(frame.data()));
}

TEST_F(JpgDirSource, SevenDigitFrameNumbersAreNotCut) {
  test::writeDriverFrames(dir_, 1000000, 1, kW, kH);
  auto source = open(1000001);
  source->seek(1000000);
  expectFrame(next(*source), 1000000);
}

TEST_F(JpgDirSource, LongDirectoryPathReadsTheRightFile) {
  std::string deep = tmp_.path();
  while (deep.size() <= 1100) deep += "/" + std::string(200, 'd');
  test::writeDriverFrames(deep, 0, 2, kW, kH);
  auto source = driver::openJpgDir(deep, 2, kW, kH);
  expectFrame(next(*source), 0);
  expectFrame(next(*source), 1);
}

TEST_F(JpgDirSource, MissingFrameFailsWithItsPath) {
  test::writeDriverFrames(dir_, 0, 2, kW, kH);
  auto source = open(3);
  next(*source);
  next(*source);
  std::vector<uint8_t> frame(source->frameBytes());
  EXPECT_EQ(failureText([&] { source->next(frame.data()); }), "decode failed: " + dir_ + "/frame_000002.jpg");
}

}  // namespace
}  // namespace ko
