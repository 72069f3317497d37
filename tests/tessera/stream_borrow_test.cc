#include "tessera/stream_borrow.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/failure_text.h"
#include "tests/support/pi_frames.h"
#include "tests/support/teeth_scene.h"
#include "tools/authoring/lip_template.h"

namespace ko::tessera {
namespace {

using ko::test::failureText;
using ko::test::TeethScene;
using ko::test::teethScene;

const std::string kDash = " \xe2\x80\x94 ";
constexpr int32_t kN = 64;

std::string diamondTemplate() {
  authoring::LipTemplateSpec lips;
  lips.canvas = kN;
  lips.featherPx = 4;
  lips.uCanon = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  lips.lipIdx = {0, 1, 2, 3};
  return authoring::lipTemplateJson(lips);
}

std::string printedAtConstruction(const TeethScene& scene, const std::string& lipTemplate) {
  testing::internal::CaptureStderr();
  StreamBorrow borrow(scene.bank, scene.weights, scene.config, test::propPi(kN), lipTemplate);
  return testing::internal::GetCapturedStderr();
}

TEST(StreamBorrow, RefusesCanvasesItCannotComposeOn) {
  TeethScene scene = teethScene(3, 1);
  EXPECT_EQ(
      failureText([&] { StreamBorrow(scene.bank, scene.weights, scene.config, test::propPi(128), ""); }),
      "teeth stream: manifest pi canvas 128 != bank compose canvas 64" + kDash +
          "refusing to compose a mouth on a canvas the stamp does not name");
  scene.bank.stamp.canvas_h = 62;
  EXPECT_EQ(failureText([&] { StreamBorrow(scene.bank, scene.weights, scene.config, test::propPi(kN), ""); }),
            "teeth stream: non-square compose canvas 64x62" + kDash + "ko_core renders a square crop");
}

TEST(StreamBorrow, SaysWhichDeliveryMaskItServes) {
  const TeethScene scene = teethScene(3, 1);
  EXPECT_EQ(
      printedAtConstruction(scene, ""),
      "[borrow] !!! delivery mask: ELLIPSE" + kDash +
          "this bundle carries no lip_template.v1.json, so it serves the over-covering elliptical mask the "
          "contour replaces. BACKFILL IT: models/velmora-2/tools/bake_lip_templates\n");
  EXPECT_EQ(printedAtConstruction(scene, diamondTemplate()),
            "[borrow] delivery mask: LIP CONTOUR (4 verts, feather 4.0 px)" + kDash +
                "the ellipse is not reachable in this session\n");
}

// The borrow's frames equal the pass run on the bytes it saw and the mask it computed.
TEST(StreamBorrow, PushesTheCropBytesWithTheDeliveredMaskAndShift) {
  const TeethScene scene = teethScene(12, 5);
  const UnifiedPi pi = test::propPi(kN);
  const std::vector<float> kp = test::mouthFrame(0.05f, 0.3f, 0.35f, 0.2f);
  for (const std::string& lipTemplate : {std::string(), diamondTemplate()}) {
    testing::internal::CaptureStderr();
    StreamBorrow borrow(scene.bank, scene.weights, scene.config, pi, lipTemplate);
    testing::internal::GetCapturedStderr();
    TeethPass pass(scene.bank, scene.weights, scene.config);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-0.1f, 1.1f);
    std::vector<float> planes(3 * kN * kN);
    std::vector<uint8_t> bytes(3 * kN * kN);
    std::vector<uint8_t> mask(kN * kN);
    FrameResult viaBorrow, viaPass;
    for (int32_t frame = 0; frame < 3; ++frame) {
      for (float& v : planes) v = value(random);
      for (size_t i = 0; i < bytes.size(); ++i) {
        const float v = planes[(i % 3) * kN * kN + i / 3];
        bytes[i] = v <= 0 ? 0 : static_cast<uint8_t>(std::nearbyint(std::min(v, 1.0f) * 255));
      }
      int sy = 0, sx = 0;
      bool found = false;
      if (lipTemplate.empty()) {
        found = pi.piU8AndShift(kp.data(), scene.bank.c_canon, mask.data(), &sy, &sx);
      } else {
        LipContour contour = LipContour::fromTemplateJson(lipTemplate, kN);
        found = contour.deliveredU8AndShift(kp.data(), pi, scene.bank.c_canon, mask.data(), &sy, &sx);
      }
      ASSERT_TRUE(found);
      const FrameShift shift{sy, sx};
      const bool emitted = borrow.push(planes.data(), kp.data(), viaBorrow);
      EXPECT_EQ(pass.push(frame, bytes.data(), mask.data(), &shift, viaPass), emitted);
      if (emitted) {
        EXPECT_EQ(viaBorrow.window, viaPass.window);
      }
    }
    ASSERT_TRUE(borrow.flush(viaBorrow) && pass.flush(viaPass));
    EXPECT_FALSE(viaBorrow.skipped);
    EXPECT_EQ(viaBorrow.window, viaPass.window);
  }
}

TEST(StreamBorrow, WritesBackOnlyTheWindowsChange) {
  const GeometryStamp stamp = teethScene(1, 1).bank.stamp;
  const size_t plane = kN * kN;
  FrameResult result;
  result.window.assign(static_cast<size_t>(stamp.window_h * stamp.window_w) * 3, 130);
  const size_t inside = static_cast<size_t>(stamp.window_y0) * kN + stamp.window_x0;
  const size_t outside = 0;

  std::vector<float> crop(3 * plane, 0.5012f);
  crop[inside + plane] = 1.4f;  // counts as the byte 255
  crop[inside + 2 * plane] = -0.2f;
  result.window[1] = 255;
  result.window[2] = 0;
  std::vector<float> written = crop;
  StreamBorrow::writeWindowDelta(written.data(), kN, result, stamp);
  EXPECT_FLOAT_EQ(written[inside], 0.5012f + 130 / 255.0f - 128 / 255.0f);
  EXPECT_EQ(written[inside + plane], 1.0f);
  EXPECT_FLOAT_EQ(written[inside + 2 * plane], 0.0f);
  EXPECT_EQ(written[outside], crop[outside]);

  std::vector<uint8_t> rgba(4 * plane, 100);
  StreamBorrow::writeWindowDeltaRgba(rgba.data(), kN, result, stamp);
  EXPECT_EQ(rgba[inside * 4], 130);
  EXPECT_EQ(rgba[inside * 4 + 1], 255);
  EXPECT_EQ(rgba[inside * 4 + 2], 0);
  EXPECT_EQ(rgba[inside * 4 + 3], 255);
  EXPECT_EQ(rgba[outside * 4], 100);

  FrameResult skipped;
  skipped.skipped = true;
  written = crop;
  StreamBorrow::writeWindowDelta(written.data(), kN, skipped, stamp);
  EXPECT_EQ(written, crop);
  std::vector<uint8_t> skippedRgba(4 * plane, 100);
  StreamBorrow::writeWindowDeltaRgba(skippedRgba.data(), kN, skipped, stamp);
  EXPECT_EQ(skippedRgba[outside * 4 + 3], 255);
  EXPECT_EQ(skippedRgba[inside * 4], 100);

  result.window.pop_back();
  EXPECT_EQ(failureText([&] { StreamBorrow::writeWindowDelta(written.data(), kN, result, stamp); }),
            "teeth stream: window 1535 bytes does not match the stamp window 16x32" + kDash +
                "refusing to write back");
}

}  // namespace
}  // namespace ko::tessera
