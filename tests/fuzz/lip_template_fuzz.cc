// libFuzzer target for the lip template reader and the contour it builds: a template either loads or is
// refused with its own prefix, and a loaded contour rasterises any keypoints (taken from the input's
// tail, so huge, infinite and NaN coordinates are reached) without leaving its buffers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tessera/lip_contour.h"
#include "tessera/unified_pi.h"
#include "tests/support/pi_frames.h"

namespace {

using ko::tessera::kKeypointFloats;

void require(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "lip contour invariant broken: %s\n", invariant);
  std::abort();
}

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

std::vector<float> keypointsFrom(const uint8_t* data, size_t size) {
  std::vector<float> kp(kKeypointFloats, 0.0f);
  const float mouth[4][2] = {{-0.2f, 0.3f}, {0.2f, 0.3f}, {0.0f, 0.25f}, {0.0f, 0.35f}};
  for (int row = 0; row < ko::tessera::kKeypointCount; ++row) {
    kp[3 * row] = mouth[row % 4][0];
    kp[3 * row + 1] = mouth[row % 4][1];
  }
  const size_t bytes = kKeypointFloats * sizeof(float);
  if (size >= bytes) std::memcpy(kp.data(), data + size - bytes, bytes);
  return kp;
}

void exercise(ko::tessera::LipContour& contour, const std::vector<float>& kp, int32_t canvas) {
  const size_t area = static_cast<size_t>(canvas) * static_cast<size_t>(canvas);
  const std::vector<float> poly = contour.polygon(kp.data());
  require(poly.size() == 2 * static_cast<size_t>(contour.vertexCount()), "one (x, y) pair per vertex");
  const ko::tessera::Box box = contour.box(poly);
  require(box.empty() || (box.x0 >= 0 && box.y0 >= 0 && box.x1 <= canvas && box.y1 <= canvas),
          "the box lies on the canvas");
  std::vector<float> field(area);
  contour.contourF32Canvas(kp.data(), field.data());
  for (const float v : field) require(v >= 0.0f && v <= 1.0f, "contour values in [0, 1]");
  const ko::tessera::UnifiedPi pi = ko::tessera::test::propPi(canvas);
  std::vector<uint8_t> delivered(area);
  contour.deliveredU8(kp.data(), pi, delivered.data());
  const double canon[2] = {canvas / 2.0, canvas / 2.0};
  int shiftY = 0;
  int shiftX = 0;
  contour.deliveredU8AndShift(kp.data(), pi, canon, delivered.data(), &shiftY, &shiftX);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<float> kp = keypointsFrom(data, size);
  for (const int32_t canvas : {1, 7, 64}) {
    try {
      ko::tessera::LipContour contour = ko::tessera::LipContour::fromTemplateJson(text, canvas);
      require(contour.canvas() == canvas, "the contour composes on the canvas it was read for");
      exercise(contour, kp, canvas);
    } catch (const std::invalid_argument& failure) {
      require(startsWith(failure.what(), "LipContour: "), "contour refusals carry their prefix");
    } catch (const std::runtime_error& failure) {
      require(startsWith(failure.what(), "lip_template.v1.json: "), "template refusals carry their prefix");
    }
  }
  return 0;
}
