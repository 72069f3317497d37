#include "tessera/geometry_stamp.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/support/failure_text.h"

namespace ko::tessera {
namespace {

using ko::test::failureText;

// A 512 crop with a 160 x 96 mouth window, pad 16, and a band stored with a margin of 8.
GeometryStamp coherentStamp() {
  GeometryStamp s;
  s.canvas_w = 512;
  s.canvas_h = 512;
  s.window_x0 = 176;
  s.window_y0 = 300;
  s.window_w = 160;
  s.window_h = 96;
  s.pad = 16;
  s.band_r0 = 10;
  s.band_r1 = 80;
  s.band_c0 = 20;
  s.band_c1 = 140;
  s.shift_margin = 8;
  return s;
}

std::string validation(const GeometryStamp& s) {
  return failureText([&] { s.validate(); });
}

TEST(GeometryStamp, CoherentStampPasses) {
  EXPECT_EQ(validation(coherentStamp()), ko::test::kNoFailure);
  GeometryStamp s = coherentStamp();
  s.shift_margin = 0;
  s.pad = 1;
  EXPECT_EQ(validation(s), ko::test::kNoFailure);
  // The stored band may reach exactly the patch's edges.
  s = coherentStamp();
  s.band_r0 = 0;
  s.band_r1 = 96;
  s.shift_margin = 16;
  EXPECT_EQ(validation(s), ko::test::kNoFailure);
}

TEST(GeometryStamp, EachRuleNamesItself) {
  const auto broken = [](auto edit) {
    GeometryStamp s = coherentStamp();
    edit(s);
    return validation(s);
  };
  EXPECT_EQ(broken([](GeometryStamp& s) { s.window_x0 = -1; }),
            "teeth: GeometryStamp incoherent: window x-range escapes canvas;");
  EXPECT_EQ(broken([](GeometryStamp& s) { s.window_y0 = 417; }),
            "teeth: GeometryStamp incoherent: window y-range escapes canvas;");
  EXPECT_EQ(broken([](GeometryStamp& s) { s.band_c1 = 161; }),
            "teeth: GeometryStamp incoherent: band cols escape window;");
  EXPECT_EQ(broken([](GeometryStamp& s) { s.pad = 0; }),
            "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;");
  EXPECT_EQ(broken([](GeometryStamp& s) { s.shift_margin = -1; }),
            "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;");
  EXPECT_EQ(broken([](GeometryStamp& s) { s.shift_margin = 27; }),
            "teeth: GeometryStamp incoherent: stored band rows escape patch;");
  EXPECT_EQ(broken([](GeometryStamp& s) {
              s.band_c0 = 0;
              s.shift_margin = 17;
            }),
            "teeth: GeometryStamp incoherent: stored band cols escape patch;");
}

TEST(GeometryStamp, BrokenRulesAreListedInRuleOrder) {
  GeometryStamp s = coherentStamp();
  s.window_h = 0;
  EXPECT_EQ(
      validation(s),
      "teeth: GeometryStamp incoherent: window dims must be positive; band rows escape window; stored band "
      "rows escape patch;");
  s = coherentStamp();
  s.band_r0 = 80;
  EXPECT_EQ(validation(s), "teeth: GeometryStamp incoherent: band rows escape window;");
}

TEST(GeometryStamp, ExtremeFieldsCannotWrapARuleIntoPassing) {
  GeometryStamp s = coherentStamp();
  s.window_x0 = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(validation(s), "teeth: GeometryStamp incoherent: window x-range escapes canvas;");
  // Every sum with this pad leaves int32, and every rule still holds.
  s = coherentStamp();
  s.pad = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(validation(s), ko::test::kNoFailure);
  s.shift_margin = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(validation(s), ko::test::kNoFailure);
  s.shift_margin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(validation(s), "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;");
}

TEST(GeometryStamp, TextListsTheTwelveFields) {
  EXPECT_EQ(coherentStamp().text(),
            "{canvas_w=512, canvas_h=512, window_x0=176, window_y0=300, window_w=160, window_h=96, pad=16, "
            "band_r0=10, band_r1=80, band_c0=20, band_c1=140, shift_margin=8}");
}

}  // namespace
}  // namespace ko::tessera
