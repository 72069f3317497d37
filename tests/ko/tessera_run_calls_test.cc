#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ko/ko.h"
#include "tessera/teeth_pass.h"
#include "tests/support/teeth_scene.h"

namespace ko {
namespace {

using tessera::FrameResult;
using tessera::FrameShift;

struct OfflineRun {
  test::TeethScene scene = test::teethScene(10, 21);
  std::vector<uint8_t> crops;
  std::vector<uint8_t> pis;
  int32_t stamp[12] = {};
  size_t windowBytes = 0;

  explicit OfflineRun(int32_t frames) {
    scene.bank.stamp.toFields(stamp);
    windowBytes = static_cast<size_t>(scene.bank.stamp.window_h * scene.bank.stamp.window_w) * 3;
    for (int32_t f = 0; f < frames; ++f) {
      const test::TeethFrame frame = test::teethFrame(scene.bank, {f % 2, -f}, static_cast<uint32_t>(f));
      crops.insert(crops.end(), frame.crop.begin(), frame.crop.end());
      pis.insert(pis.end(), frame.pi.begin(), frame.pi.end());
    }
  }

  int run(const int32_t* shifts, int32_t frames, std::vector<uint8_t>& windows,
          std::vector<uint32_t>& skipped, std::string& err) {
    windows.assign(windowBytes * static_cast<size_t>(frames), 7);
    skipped.assign(static_cast<size_t>(frames), 9);
    char text[512] = "stale";
    const tessera::BankData& b = scene.bank;
    const auto* pt = reinterpret_cast<const uint8_t*>(scene.headPt.data());
    const auto ptLen = static_cast<uint32_t>(scene.headPt.size());
    const int status =
        shifts ? ko_tessera_run_shift(b.bands.data(), b.n_donors, b.cent.data(), b.c_canon, b.aperture.data(),
                                      stamp, pt, ptLen, scene.headJson.c_str(), crops.data(), pis.data(),
                                      shifts, frames, windows.data(), skipped.data(), text, sizeof text)
               : ko_tessera_run(b.bands.data(), b.n_donors, b.cent.data(), b.c_canon, b.aperture.data(),
                                stamp, pt, ptLen, scene.headJson.c_str(), crops.data(), pis.data(), frames,
                                windows.data(), skipped.data(), text, sizeof text);
    err = text;
    return status;
  }
};

// Each slot holds the frame the pass returned in that order: the first from the second push, the
// last from the flush; a shift pair starting -10000 is no shift at all.
TEST(TesseraRunCalls, WriteTheWindowsThePassReturnsInFrameOrder) {
  OfflineRun offline(3);
  const int32_t shifts[] = {-10000, 7, 0, 5, 1, -1};
  std::vector<uint8_t> windows;
  std::vector<uint32_t> skipped;
  std::string err;
  ASSERT_EQ(offline.run(shifts, 3, windows, skipped, err), 0) << err;
  EXPECT_EQ(err, "");

  tessera::TeethPass pass(offline.scene.bank, offline.scene.weights, offline.scene.config);
  const size_t cropBytes = 64 * 64 * 3;
  std::vector<FrameResult> results;
  FrameResult result;
  const FrameShift given[] = {{0, 5}, {1, -1}};
  for (int32_t f = 0; f < 3; ++f) {
    if (pass.push(f, offline.crops.data() + cropBytes * f, offline.pis.data() + 64 * 64 * f,
                  f == 0 ? nullptr : &given[f - 1], result)) {
      results.push_back(result);
    }
  }
  ASSERT_TRUE(pass.flush(result));
  results.push_back(result);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(skipped, (std::vector<uint32_t>{0, 1, 0}));
  EXPECT_TRUE(results[1].skipped);
  for (size_t k : {0u, 2u}) {
    EXPECT_EQ(std::vector<uint8_t>(windows.begin() + offline.windowBytes * k,
                                   windows.begin() + offline.windowBytes * (k + 1)),
              results[k].window);
  }
  EXPECT_EQ(windows[offline.windowBytes], 7) << "a skipped slot is left as it was";

  std::vector<uint8_t> unshifted;
  ASSERT_EQ(offline.run(nullptr, 3, unshifted, skipped, err), 0) << err;
  EXPECT_TRUE(std::equal(unshifted.begin(), unshifted.begin() + offline.windowBytes, windows.begin()));
}

TEST(TesseraRunCalls, ReportTheRefusalInTheCallersBuffer) {
  OfflineRun offline(2);
  std::vector<uint8_t> windows;
  std::vector<uint32_t> skipped;
  std::string err;
  ASSERT_EQ(offline.run(nullptr, 0, windows, skipped, err), 0) << err;

  offline.stamp[6] = 0;
  EXPECT_EQ(offline.run(nullptr, 2, windows, skipped, err), 1);
  EXPECT_EQ(err, "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;");
  EXPECT_EQ(skipped, (std::vector<uint32_t>{9, 9}));

  char text[8];
  EXPECT_EQ(ko_tessera_run_shift(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                 nullptr, nullptr, 1, nullptr, nullptr, text, sizeof text),
            1);
  EXPECT_STREQ(text, "ko_tess");
  std::vector<char> whole(64);
  EXPECT_EQ(ko_tessera_run(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                           nullptr, 1, nullptr, nullptr, whole.data(), static_cast<int32_t>(whole.size())),
            1);
  EXPECT_STREQ(whole.data(), "ko_tessera_run: null argument");
}

}  // namespace
}  // namespace ko
