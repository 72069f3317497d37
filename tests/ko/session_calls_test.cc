// The session calls that need no renderer, through the C interface on synthetic bundles, cross-checked
// against the C++ objects they wrap.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "driver/cursor.h"
#include "ko/ko.h"
#include "paste/paste.h"
#include "tests/support/c_handles.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::IdentityBuilder;

using test::SessionHandle;

class SessionCalls : public ::testing::Test {
 protected:
  SessionCalls() { written_.writeDirectory(dir_); }

  ko_ctx* open(const std::string& dir, int threads = 0) {
    return ko_create(dir.c_str(), "m4b", threads, nullptr);
  }

  IdentityBuilder written_;
  test::TempDir tmp_;
  std::string dir_ = tmp_ / "alice";
};

TEST_F(SessionCalls, OpenABundleAndReportItsFigures) {
  const SessionHandle session(open(dir_));
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  EXPECT_STREQ(ko_last_error(), "");
  const test::IdentityRecipe& r = written_.recipe();
  EXPECT_EQ(ko_nt(session.get()), r.NT);
  EXPECT_EQ(ko_width(session.get()), r.W);
  EXPECT_EQ(ko_height(session.get()), r.H);
  EXPECT_EQ(ko_crop(session.get()), r.crop);
  EXPECT_EQ(ko_drive_frames(session.get()), r.frames);
  EXPECT_EQ(ko_width(nullptr), 0);
  EXPECT_EQ(ko_drive_frames(nullptr), 0);
  EXPECT_EQ(ko_host_kp_rows(), 21);
  ko_destroy(nullptr);
}

TEST_F(SessionCalls, RefusalsCarryTheCallsNameAndTheReason) {
  EXPECT_EQ(ko_create(nullptr, "m4b", 0, nullptr), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_create: NULL bundle_dir/model_key");
  EXPECT_EQ(ko_create(dir_.c_str(), nullptr, 0, nullptr), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_create: NULL bundle_dir/model_key");

  const test::IdentityRecipe& r = written_.recipe();
  const std::string shortMask = tmp_ / "short_mask";
  IdentityBuilder(written_)
      .member("mask_512.u8", std::string(r.crop * r.crop - 1, '\xff'))
      .writeDirectory(shortMask);
  EXPECT_EQ(open(shortMask), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_create: mask read failed");
  const std::string noMask = tmp_ / "no_mask";
  IdentityBuilder(written_).without("mask_512.u8").writeDirectory(noMask);
  EXPECT_EQ(open(noMask), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_create: mask read failed");

  // A success clears what the failure before it left.
  const SessionHandle session(open(dir_));
  EXPECT_STREQ(ko_last_error(), "");
}

TEST_F(SessionCalls, PasteCropIsTheDriverFrameWithTheCropCompositedUnderM) {
  const SessionHandle session(open(dir_));
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const test::IdentityRecipe& r = written_.recipe();
  const size_t frameBytes = static_cast<size_t>(r.W) * r.H * 3;
  std::vector<float> crop(3 * r.crop * r.crop);
  for (size_t i = 0; i < crop.size(); ++i) crop[i] = static_cast<float>(i % 251) / 250.0f;

  // The same job done with the C++ objects the session wraps.
  const Manifest manifest = loadManifest(dir_);
  const Identity identity(manifest);
  const std::string mask = written_.payload("mask_512.u8");
  Paste paste(std::vector<uint8_t>(mask.begin(), mask.end()), manifest.crop,
              Unsharp{manifest.amount, manifest.sigma, manifest.ksize});
  const auto cursor = openBundleDriver(manifest, 2, 11);
  for (int si : {2, 0, 3}) {
    std::vector<uint8_t> expected(frameBytes);
    cursor->pullAt(si, expected.data());
    const std::vector<uint8_t> driverFrame = expected;
    paste.composite(crop.data(), 255.0f, identity.M(si), expected.data(), r.W, r.H);
    ASSERT_NE(expected, driverFrame) << "the crop lands inside the frame";

    std::vector<uint8_t> out(frameBytes);
    ASSERT_EQ(ko_paste_crop(session.get(), si, crop.data(), out.data(), frameBytes), 1) << ko_last_error();
    EXPECT_EQ(out, expected) << si;
    const uint8_t* target = ko_target_frame(session.get(), si);
    ASSERT_NE(target, nullptr) << ko_last_error();
    EXPECT_EQ(std::vector<uint8_t>(target, target + frameBytes), driverFrame) << si;
  }
}

TEST_F(SessionCalls, PasteAndTargetFrameRefuseBadArguments) {
  const SessionHandle session(open(dir_));
  const test::IdentityRecipe& r = written_.recipe();
  const size_t frameBytes = static_cast<size_t>(r.W) * r.H * 3;
  std::vector<float> crop(3 * r.crop * r.crop, 0.5f);
  std::vector<uint8_t> out(frameBytes);
  for (int si : {-1, r.NT}) {
    EXPECT_EQ(ko_paste_crop(session.get(), si, crop.data(), out.data(), frameBytes), 0);
    EXPECT_STREQ(ko_last_error(), "ko_paste_crop: bad args / out too small");
    EXPECT_EQ(ko_target_frame(session.get(), si), nullptr);
    EXPECT_STREQ(ko_last_error(), "ko_target_frame: bad args");
  }
  EXPECT_EQ(ko_paste_crop(session.get(), 0, crop.data(), out.data(), frameBytes - 1), 0);
  EXPECT_STREQ(ko_last_error(), "ko_paste_crop: bad args / out too small");
  EXPECT_EQ(ko_paste_crop(session.get(), 0, nullptr, out.data(), frameBytes), 0);
}

}  // namespace
}  // namespace ko
