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

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

TEST(GeometryStamp, EachBrokenRuleIsNamedInRuleOrder) {
  struct Case {
    void (*edit)(GeometryStamp&);
    const char* broken;  // after the common prefix; "" passes
  };
  const Case cases[] = {
      {[](GeometryStamp&) {}, ""},
      {[](GeometryStamp& s) { s.shift_margin = 0, s.pad = 1; }, ""},
      // The stored band may reach exactly the patch's edges.
      {[](GeometryStamp& s) { s.band_r0 = 0, s.band_r1 = 96, s.shift_margin = 16; }, ""},
      {[](GeometryStamp& s) { s.window_x0 = -1; }, "window x-range escapes canvas;"},
      {[](GeometryStamp& s) { s.window_y0 = 417; }, "window y-range escapes canvas;"},
      {[](GeometryStamp& s) { s.band_c1 = 161; }, "band cols escape window;"},
      {[](GeometryStamp& s) { s.band_r0 = 80; }, "band rows escape window;"},
      {[](GeometryStamp& s) { s.pad = 0; }, "pad/shift_margin must be positive;"},
      {[](GeometryStamp& s) { s.shift_margin = -1; }, "pad/shift_margin must be positive;"},
      {[](GeometryStamp& s) { s.shift_margin = 27; }, "stored band rows escape patch;"},
      {[](GeometryStamp& s) { s.band_c0 = 0, s.shift_margin = 17; }, "stored band cols escape patch;"},
      {[](GeometryStamp& s) { s.window_h = 0; },
       "window dims must be positive; band rows escape window; stored band rows escape patch;"},
      // Extreme fields cannot wrap a rule into passing: every sum with this pad leaves int32.
      {[](GeometryStamp& s) { s.window_x0 = kMax; }, "window x-range escapes canvas;"},
      {[](GeometryStamp& s) { s.pad = kMax; }, ""},
      {[](GeometryStamp& s) { s.pad = kMax, s.shift_margin = kMax; }, ""},
      {[](GeometryStamp& s) { s.pad = kMax, s.shift_margin = -kMax - 1; },
       "pad/shift_margin must be positive;"},
  };
  for (const Case& c : cases) {
    GeometryStamp s = coherentStamp();
    c.edit(s);
    const std::string broken = c.broken;
    EXPECT_EQ(failureText([&] { s.validate(); }),
              broken.empty() ? ko::test::kNoFailure : "teeth: GeometryStamp incoherent: " + broken)
        << broken;
  }
}

TEST(GeometryStamp, TextListsTheTwelveFields) {
  EXPECT_EQ(coherentStamp().text(),
            "{canvas_w=512, canvas_h=512, window_x0=176, window_y0=300, window_w=160, window_h=96, pad=16, "
            "band_r0=10, band_r1=80, band_c0=20, band_c1=140, shift_margin=8}");
}

}  // namespace
}  // namespace ko::tessera
