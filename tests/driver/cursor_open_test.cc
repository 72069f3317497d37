#include <gtest/gtest.h>

#include <vector>

#include "bundle/bundle.h"
#include "driver/cursor.h"
#include "tests/support/failure_text.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::IdentityBuilder;
using test::IdentityRecipe;

class DriverOpen : public ::testing::Test {
 protected:
  Manifest write(const IdentityBuilder& identity) {
    identity.writeDirectory(dir_);
    return loadManifest(dir_);
  }
  // Opens the driver and returns what it printed.
  std::string openCapturing(const Manifest& manifest) {
    testing::internal::CaptureStderr();
    cursor_ = openBundleDriver(manifest, 2, 11);
    return testing::internal::GetCapturedStderr();
  }

  test::TempDir tmp_;
  std::string dir_ = tmp_ / "bundle";
  std::unique_ptr<DriverCursor> cursor_;
};

TEST_F(DriverOpen, PlaysAPopulatedJpegDirectory) {
  const std::string log = openCapturing(write(IdentityBuilder()));
  EXPECT_EQ(log, "[ko-driver] target_frames/ (raw jpg, 4 frames) — read one frame per pull\n");
  EXPECT_EQ(cursor_->name(), "jpg/stb");
  std::vector<uint8_t> frame(cursor_->frameBytes());
  EXPECT_EQ(cursor_->pullAt(3, frame.data()), 3);
}

TEST_F(DriverOpen, DecodesTheMovieInPlaceWhenTheDirectoryIsIncomplete) {
  IdentityBuilder identity(IdentityRecipe{.driverMovie = true});
  identity.without("target_frames/" + test::driverFrameName(3));
  const std::string log = openCapturing(write(identity));
  EXPECT_EQ(log.substr(log.find("[ko-driver] target_frames.mp4")),
            "[ko-driver] target_frames.mp4 decoded IN PLACE (" + cursor_->name() +
                ", 4 frames 128x72, look-ahead 2, history 11) — no frame of the driver is expanded ahead of "
                "the paste\n");
  for (int32_t si = 0; si < 4; ++si) {
    std::vector<uint8_t> frame(cursor_->frameBytes());
    ASSERT_EQ(cursor_->pullAt(si, frame.data()), si);
    EXPECT_EQ(frame, test::expectedRgb(test::moviePicture(identity.driverMovieRecipe(), si))) << si;
  }
}

TEST_F(DriverOpen, OpensThePackedBundleOfAContainer) {
  const IdentityBuilder identity(IdentityRecipe{.driverFrames = false, .driverMovie = true});
  identity.writeContainer(tmp_ / "alice.imx");
  testing::internal::CaptureStderr();
  cursor_ = openBundleDriver(loadManifest(tmp_ / "alice.imx"), 2, 11);
  testing::internal::GetCapturedStderr();
  std::vector<uint8_t> frame(cursor_->frameBytes());
  ASSERT_EQ(cursor_->pull(frame.data()), 0);
  EXPECT_EQ(frame, test::expectedRgb(test::moviePicture(identity.driverMovieRecipe(), 0)));
}

TEST_F(DriverOpen, PreferringTheMovieSaysTheDirectoryIsNotUsed) {
  const test::ScopedEnv prefer("KO_DRIVER_PREFER_MP4", "1");
  const std::string log = openCapturing(write(IdentityBuilder(IdentityRecipe{.driverMovie = true})));
  EXPECT_EQ(log.rfind("[ko-driver] KO_DRIVER_PREFER_MP4=1 — target_frames/ is populated and NOT used; "
                      "target_frames.mp4 is the member this consumer reads\n",
                      0),
            0u)
      << log;
  EXPECT_EQ(cursor_->name().rfind("mp4/libavcodec ", 0), 0u);
}

TEST_F(DriverOpen, RefusesABundleWithoutADriver) {
  const Manifest manifest = write(IdentityBuilder(IdentityRecipe{.driverFrames = false}));
  EXPECT_EQ(test::failureText([&] { openBundleDriver(manifest, 2, 11); }),
            "this bundle carries neither a populated target_frames/ nor target_frames.mp4 (" + dir_ +
                "/target_frames.mp4) — there is no driver video to play. REFUSING to create a session.");
}

TEST_F(DriverOpen, RefusesABundleWithoutAPriorMovie) {
  const Manifest manifest = write(IdentityBuilder().set("P_hevc", "\"prior.mov\""));
  EXPECT_EQ(test::failureText([&] { openBundlePrior(manifest, 2, 11); }),
            "this bundle carries neither a raw P.f16 nor prior.mov (" + dir_ +
                "/prior.mov) — there is no warp prior to play. REFUSING to create a session.");
}

TEST_F(DriverOpen, AnnouncesThePriorMovie) {
  const Manifest manifest = write(IdentityBuilder(IdentityRecipe{.prior = test::PriorMember::Movie}));
  testing::internal::CaptureStderr();
  const auto prior = openBundlePrior(manifest, 2, 11);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Quandrel: identity source ready — 4 frames 32x32, played straight from P_hevc.mov (" +
                prior->name() + "); nothing is unpacked to disk\n");
}

}  // namespace
}  // namespace ko
