#include "ko/last_error.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "ko/ko.h"

namespace ko {
namespace {

TEST(GuardedCall, PassesResultsThroughUntouched) {
  clearLastError(ErrorFamily::Session);
  EXPECT_EQ(guardedCall(ErrorFamily::Session, "ko_x", -1, [] { return 7; }), 7);
  EXPECT_EQ(lastError(ErrorFamily::Session), "");
}

TEST(GuardedCall, TurnsExceptionsIntoCallPrefixedTexts) {
  EXPECT_EQ(guardedCall(ErrorFamily::Session, "ko_x", -1,
                        []() -> int { throw std::runtime_error("manifest: bad dims"); }),
            -1);
  EXPECT_STREQ(ko_last_error(), "ko_x: manifest: bad dims");
  EXPECT_EQ(
      guardedCall(ErrorFamily::Session, "ko_y", static_cast<void*>(nullptr), []() -> void* { throw 42; }),
      nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_y: unknown failure");
  EXPECT_EQ(guardedCall(ErrorFamily::Session, "ko_z", 0, []() -> int { throw std::bad_alloc(); }), 0);
  EXPECT_STREQ(ko_last_error(), "ko_z: std::bad_alloc");
}

TEST(LastError, IsPerThread) {
  setLastError(ErrorFamily::Session, "ko_main", "failed here");
  std::string seenByOther = "unset";
  std::thread other([&] {
    seenByOther = ko_last_error();
    setLastError(ErrorFamily::Session, "ko_other", "failed there");
  });
  other.join();
  EXPECT_EQ(seenByOther, "");
  EXPECT_STREQ(ko_last_error(), "ko_main: failed here");
  clearLastError(ErrorFamily::Session);
  EXPECT_STREQ(ko_last_error(), "");
}

TEST(HostContract, KeypointRowsAreTwentyOne) {
  EXPECT_EQ(ko_host_kp_rows(), 21);
}

}  // namespace
}  // namespace ko
