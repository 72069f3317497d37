#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "ko/ko.h"
#include "tests/support/c_handles.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::IdentityBuilder;
using test::IdentityRecipe;

constexpr size_t kRowBytes = 32 * 32 * 6;

using test::PriorHandle;

class PriorCalls : public ::testing::Test {
 protected:
  PriorCalls() { written_.writeContainer(container_); }

  IdentityBuilder written_{IdentityRecipe{.prior = test::PriorMember::Movie}};
  test::TempDir tmp_;
  std::string container_ = tmp_ / "alice.imx";
};

TEST_F(PriorCalls, ReadRowsOfAPackedBundleLikeTheMovieHoldsThem) {
  testing::internal::CaptureStderr();
  const PriorHandle handle(ko_prior_open(container_.c_str(), 0, -5));
  testing::internal::GetCapturedStderr();
  ASSERT_NE(handle.get(), nullptr) << ko_last_error();
  EXPECT_EQ(ko_prior_row_bytes(handle.get()), kRowBytes);
  EXPECT_EQ(std::string(ko_prior_backend(handle.get())).rfind("hevc444/libavcodec ", 0), 0u);
  std::vector<uint16_t> row(kRowBytes / 2);
  for (const int index : {0, 1, 3, 2}) {
    ASSERT_EQ(ko_prior_row(handle.get(), index, row.data(), kRowBytes), 1) << ko_last_error();
    EXPECT_EQ(row, test::expectedHalfPlanes(test::moviePicture(written_.priorMovieRecipe(), index))) << index;
  }
}

TEST_F(PriorCalls, ExplainEveryRefusal) {
  testing::internal::CaptureStderr();
  const PriorHandle handle(ko_prior_open(container_.c_str(), 2, 11));
  testing::internal::GetCapturedStderr();
  std::vector<uint16_t> row(kRowBytes / 2);
  EXPECT_EQ(ko_prior_row(handle.get(), 0, row.data(), kRowBytes - 1), 0);
  EXPECT_STREQ(ko_last_error(), ("ko_prior_row: cap " + std::to_string(kRowBytes - 1) + " < row bytes " +
                                 std::to_string(kRowBytes))
                                    .c_str());
  EXPECT_EQ(ko_prior_row(handle.get(), 0, nullptr, kRowBytes), 0);
  EXPECT_STREQ(ko_last_error(), "ko_prior_row: NULL prior/out");
  EXPECT_EQ(ko_prior_row(handle.get(), 4, row.data(), kRowBytes), 0);
  EXPECT_STREQ(ko_last_error(), "ko_prior_row: ko_driver: seek(4) outside [0,4)");
  EXPECT_EQ(ko_prior_row(handle.get(), 1, row.data(), kRowBytes), 1);
  EXPECT_STREQ(ko_last_error(), "");

  const std::string rawOnly = tmp_ / "raw";
  IdentityBuilder().writeDirectory(rawOnly);
  EXPECT_EQ(ko_prior_open(rawOnly.c_str(), 2, 11), nullptr);
  EXPECT_STREQ(ko_last_error(),
               ("ko_prior_open: this bundle carries neither a raw P.f16 nor P_hevc.mov (" + rawOnly +
                "/P_hevc.mov) — there is no warp prior to play. REFUSING to create a session.")
                   .c_str());
}

}  // namespace
}  // namespace ko
