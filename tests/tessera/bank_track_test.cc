#include "tessera/bank_track.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "driver/driver.h"
#include "tests/support/failure_text.h"
#include "tests/support/temp_dir.h"
#include "tools/authoring/bank_track.h"

namespace ko::tessera {
namespace {

using authoring::RgbPatch;
using test::failureText;

constexpr int kW = 28, kH = 16;

class BankTrack : public ::testing::Test {
 protected:
  std::string track(const std::vector<RgbPatch>& frames, int width = kW) {
    const std::string path = tmp_ / ("t" + std::to_string(++written_) + ".mp4");
    authoring::writeBankTrack(path, frames, width, kH);
    return readFile(path);
  }
  static std::vector<uint8_t> decode(const std::string& bytes, int32_t n, const std::vector<int32_t>& order) {
    return decodeBankTrack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), n, kH, kW, order);
  }

  test::TempDir tmp_;
  int written_ = 0;
};

TEST_F(BankTrack, StoresEveryFrameExactlyInItsDonorSlot) {
  constexpr int kN = 7;
  const std::vector<RgbPatch> donors = authoring::paintedDonors(kN, kW, kH);
  std::vector<int32_t> order(kN);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  std::vector<RgbPatch> inTrackOrder;
  for (int32_t slot : order) inTrackOrder.push_back(donors[static_cast<size_t>(slot)]);
  const std::vector<uint8_t> bands = decode(track(inTrackOrder), kN, order);
  ASSERT_EQ(bands.size(), donors.size() * donors[0].size());
  for (size_t d = 0; d < donors.size(); ++d) {
    EXPECT_TRUE(std::equal(donors[d].begin(), donors[d].end(),
                           bands.begin() + static_cast<std::ptrdiff_t>(d * donors[d].size())))
        << "donor " << d;
  }
  EXPECT_EQ(bankDecoderBuild(), movieDecoderBuild());
  EXPECT_EQ(bankDecoderBuild().rfind("libavcodec ", 0), 0u);
}

TEST_F(BankTrack, RefusesEveryTrackThatDisagreesWithTheSidecar) {
  const std::string three = track(authoring::paintedDonors(3, kW, kH));
  const std::string wide = track(authoring::paintedDonors(3, kW + 2, kH), kW + 2);
  const std::string notMovie = "not a movie at all, just text";
  const std::vector<int32_t> order = {2, 0, 1};
  const std::string serve = " \xe2\x80\x94 refusing to serve";
  const std::string mismatch = " \xe2\x80\x94 sidecar/track mismatch, refusing to serve";
  const auto refusal = [](const std::string* bytes, int32_t n, int32_t h, const std::vector<int32_t>& slots) {
    const auto* data = bytes ? reinterpret_cast<const uint8_t*>(bytes->data()) : nullptr;
    return failureText([&] { decodeBankTrack(data, bytes ? bytes->size() : 10, n, h, kW, slots); });
  };
  EXPECT_EQ(refusal(&notMovie, 3, kH, order), "reference bank track is not a readable container" + serve);
  EXPECT_EQ(refusal(&wide, 3, kH, order),
            "reference bank track is 30x16, the geometry stamp says 28x16 \xe2\x80\x94 geometry mismatch, "
            "refusing to serve");
  EXPECT_EQ(refusal(&three, 2, kH, {1, 0}),
            "bank track carries more frames than the sidecar's n_donors" + mismatch);
  EXPECT_EQ(refusal(&three, 4, kH, {0, 1, 2, 3}),
            "bank track decoded to 3 frames, expected 4 \xe2\x80\x94 geometry/N mismatch, refusing to serve");
  EXPECT_EQ(refusal(&three, 3, kH, {0, 1}),
            "reference bank sidecar track_order has 2 entries, expected 3" + mismatch);
  EXPECT_EQ(refusal(&three, 3, kH, {0, 1, 3}), "reference bank track_order is out of range" + serve);
  EXPECT_EQ(refusal(&three, 3, kH, {0, 1, 1}), "reference bank track_order is not a permutation" + serve);
  EXPECT_EQ(refusal(&three, 3, 0, order), "reference bank geometry is not positive" + serve);
  EXPECT_EQ(refusal(&three, 0, kH, {}), "reference bank geometry is not positive" + serve);
  // Empty input is refused before FFmpeg sees it.
  const std::string empty;
  EXPECT_EQ(refusal(nullptr, 1, kH, {0}), "reference bank track is empty" + serve);
  EXPECT_EQ(refusal(&empty, 1, kH, {0}), "reference bank track is empty" + serve);
}

TEST(BankTrackInput, ReadsAndSeeksInsideItsBytesOnly) {
  const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  MemoryInput input{bytes, sizeof bytes, 0};
  uint8_t out[8] = {};
  EXPECT_EQ(memRead(&input, out, 8), 8);
  EXPECT_EQ(memRead(&input, out, 8), 2);
  EXPECT_EQ(out[1], 9);
  EXPECT_EQ(memRead(&input, out, 8), AVERROR_EOF);
  const struct {
    int64_t offset;
    int whence;
    int64_t result, position;
  } seeks[] = {{0, AVSEEK_SIZE, 10, 10}, {3, SEEK_SET, 3, 3},    {4, SEEK_CUR, 7, 7},   {-1, SEEK_END, 9, 9},
               {1, SEEK_END, -1, 9},     {-10, SEEK_CUR, -1, 9}, {10, SEEK_SET, 10, 10}};
  for (const auto& s : seeks) {
    EXPECT_EQ(memSeek(&input, s.offset, s.whence), s.result);
    EXPECT_EQ(static_cast<int64_t>(input.position), s.position);
  }
}

}  // namespace
}  // namespace ko::tessera
