#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/ff_convert.h"
#include "tests/support/failure_text.h"
#include "tests/support/yuv_picture.h"

namespace ko {
namespace {

// A frame over caller-owned planes, each row `pad` bytes longer than its samples.
class PlanarFrame {
 public:
  PlanarFrame(AVPixelFormat format, int width, int height) : frame_(av_frame_alloc()) {
    frame_->format = format;
    frame_->width = width;
    frame_->height = height;
  }

  void addPlane(const std::vector<uint8_t>& samples, int rowBytes, int rows, int pad) {
    const int plane = static_cast<int>(planes_.size());
    const int stride = rowBytes + pad;
    std::vector<uint8_t>& stored = planes_.emplace_back(static_cast<size_t>(stride * rows), 0xEE);
    for (int row = 0; row < rows; ++row) {
      std::memcpy(stored.data() + row * stride, samples.data() + row * rowBytes,
                  static_cast<size_t>(rowBytes));
    }
    frame_->data[plane] = stored.data();
    frame_->linesize[plane] = stride;
  }

  const AVFrame& frame() const { return *frame_; }

 private:
  driver::FrameHandle frame_;
  std::vector<std::vector<uint8_t>> planes_;
};

PlanarFrame yuv420pFrame(const test::YuvPicture& picture, int lumaPad, int uPad, int vPad) {
  PlanarFrame frame(AV_PIX_FMT_YUV420P, picture.width, picture.height);
  frame.addPlane(picture.y, picture.width, picture.height, lumaPad);
  frame.addPlane(picture.u, picture.chromaWidth(), picture.chromaHeight(), uPad);
  frame.addPlane(picture.v, picture.chromaWidth(), picture.chromaHeight(), vPad);
  return frame;
}

PlanarFrame nv12Frame(const test::YuvPicture& picture) {
  std::vector<uint8_t> interleaved;
  for (size_t i = 0; i < picture.u.size(); ++i) {
    interleaved.push_back(picture.u[i]);
    interleaved.push_back(picture.v[i]);
  }
  PlanarFrame frame(AV_PIX_FMT_NV12, picture.width, picture.height);
  frame.addPlane(picture.y, picture.width, picture.height, 16);
  frame.addPlane(interleaved, 2 * picture.chromaWidth(), picture.chromaHeight(), 16);
  return frame;
}

std::vector<uint8_t> driverRgb(const AVFrame& frame) {
  std::vector<uint8_t> rgb(static_cast<size_t>(frame.width * frame.height * 3));
  driver::writeDriverFrame(frame, "m.mp4", rgb.data());
  return rgb;
}

TEST(DriverFrameConversion, PlanarAndInterleavedChromaGiveTheSameRgb) {
  for (const auto& [width, height] : {std::pair{64, 48}, std::pair{63, 47}, std::pair{1, 1}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const test::YuvPicture picture = test::patternPicture(width, height, test::Chroma::Yuv420p, 3);
    const std::vector<uint8_t> expected = test::expectedRgb(picture);
    EXPECT_EQ(driverRgb(yuv420pFrame(picture, 0, 0, 0).frame()), expected);
    EXPECT_EQ(driverRgb(nv12Frame(picture).frame()), expected);
  }
}

TEST(DriverFrameConversion, EveryPlaneIsAddressedWithItsOwnLineSize) {
  const test::YuvPicture picture = test::patternPicture(32, 16, test::Chroma::Yuv420p, 1);
  EXPECT_EQ(driverRgb(yuv420pFrame(picture, 32, 0, 48).frame()), test::expectedRgb(picture));
  EXPECT_EQ(driverRgb(yuv420pFrame(picture, 0, 64, 16).frame()), test::expectedRgb(picture));
}

TEST(DriverFrameConversion, OtherLayoutsAreRefusedByName) {
  const PlanarFrame gray(AV_PIX_FMT_GRAY8, 4, 2);
  EXPECT_EQ(test::failureText([&] { driverRgb(gray.frame()); }),
            "ko_driver: m.mp4 decoded to gray, not the 4:2:0 layout the canvas conversion is written for "
            "(yuv420p / nv12) — refusing rather than pasting onto a different pixel domain");
  const PlanarFrame unnamed(AV_PIX_FMT_NONE, 4, 2);
  EXPECT_EQ(test::failureText([&] { driverRgb(unnamed.frame()); }),
            "ko_driver: m.mp4 decoded to ?, not the 4:2:0 layout the canvas conversion is written for "
            "(yuv420p / nv12) — refusing rather than pasting onto a different pixel domain");
}

TEST(PriorFrameConversion, HalfPlanesNeedNoAlignment) {
  const test::YuvPicture picture = test::patternPicture(5, 3, test::Chroma::Yuv444p, 2);
  PlanarFrame frame(AV_PIX_FMT_YUV444P, 5, 3);
  frame.addPlane(picture.y, 5, 3, 3);
  frame.addPlane(picture.u, 5, 3, 0);
  frame.addPlane(picture.v, 5, 3, 11);
  std::vector<uint8_t> bytes(1 + 6 * 15);
  driver::writePriorFrame(frame.frame(), "p.mov", driver::unitHalfTable(), bytes.data() + 1);
  std::vector<uint16_t> halves(3 * 15);
  std::memcpy(halves.data(), bytes.data() + 1, 6 * 15);
  EXPECT_EQ(halves, test::expectedHalfPlanes(picture));
}

}  // namespace
}  // namespace ko
