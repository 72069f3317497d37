#include "driver/image_io.h"

#include <gtest/gtest.h>

#include "tests/support/failure_text.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::failureText;

TEST(ImageFiles, PngRoundTripsExactly) {
  test::TempDir tmp;
  const std::vector<uint8_t> rgb = test::driverFrameRGB(3, 17, 9);
  writePNG(tmp / "frame.png", rgb.data(), 17, 9);
  int w = 0;
  int h = 0;
  EXPECT_EQ(loadImageRGB(tmp / "frame.png", &w, &h), rgb);
  EXPECT_EQ(w, 17);
  EXPECT_EQ(h, 9);
}

TEST(ImageFiles, FailuresNameThePath) {
  test::TempDir tmp;
  const std::vector<uint8_t> rgb(12, 0);
  const std::string unwritable = tmp / "no/such/dir/out.png";
  EXPECT_EQ(failureText([&] { writePNG(unwritable, rgb.data(), 2, 2); }), "png write failed: " + unwritable);
  test::writeBytes(tmp / "garbage.jpg", "not an image");
  int w = 0;
  int h = 0;
  for (const std::string& path : {tmp / "garbage.jpg", tmp / "missing.jpg"}) {
    EXPECT_EQ(failureText([&] { loadImageRGB(path, &w, &h); }), "decode failed: " + path);
  }
}

}  // namespace
}  // namespace ko
