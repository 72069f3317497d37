#include "tests/support/teeth_scene.h"

#include <algorithm>
#include <cstddef>
#include <random>

#include "tools/authoring/bank_sidecar.h"
#include "tools/authoring/head_archive.h"

namespace ko::test {
namespace {

std::string configJson(const tessera::ServeConfig& c) {
  return R"({"format": "tessera_head.v1", "retrieval": {"kshort": )" + std::to_string(c.kshort) +
         R"(, "aperture_tol": 0.3, "cut": )" + std::to_string(c.cut) + R"(, "K": )" + std::to_string(c.K) +
         R"(}, "temporal": {"hysteresis": )" + std::to_string(c.hysteresis) + R"(, "lookahead": )" +
         std::to_string(c.lookahead) + "}}";
}

}  // namespace

TeethScene teethScene(int32_t nDonors, uint32_t seed) {
  return teethScene(nDonors, seed, authoring::BankSidecarSpec::smallStamp());
}

TeethScene teethScene(int32_t nDonors, uint32_t seed, const tessera::GeometryStamp& stamp) {
  std::mt19937 random(seed);
  TeethScene scene;
  tessera::BankData& bank = scene.bank;
  bank.stamp = stamp;
  bank.n_donors = nDonors;
  bank.c_canon[0] = stamp.window_x0 + stamp.window_w / 2.0;
  bank.c_canon[1] = stamp.window_y0 + stamp.window_h / 2.0;
  const size_t storedH = static_cast<size_t>(stamp.band_r1 - stamp.band_r0 + 2 * stamp.shift_margin);
  const size_t storedW = static_cast<size_t>(stamp.band_c1 - stamp.band_c0 + 2 * stamp.shift_margin);
  bank.bands.resize(storedH * storedW * 3 * static_cast<size_t>(nDonors));
  std::uniform_int_distribution<int> byte(0, 255);
  for (uint8_t& b : bank.bands) b = static_cast<uint8_t>(byte(random));
  std::uniform_real_distribution<double> offset(-3.0, 3.0);
  std::uniform_real_distribution<double> aperture(0.1, 0.9);
  for (int32_t d = 0; d < nDonors; ++d) {
    bank.cent.push_back(bank.c_canon[0] + offset(random));
    bank.cent.push_back(bank.c_canon[1] + offset(random));
    bank.aperture.push_back(aperture(random));
  }
  scene.config.kshort = 8;
  scene.config.cut = 6;
  scene.config.K = 4;
  scene.config.hysteresis = 2;
  scene.config.lookahead = 2;
  scene.headJson = configJson(scene.config);
  scene.headPt = authoring::headArchive(authoring::blendHeadTensors(false, seed));
  scene.weights = tessera::loadHeadPt(scene.headPt);
  return scene;
}

TeethFrame teethFrame(const tessera::BankData& bank, tessera::FrameShift shift, uint32_t seed) {
  const tessera::GeometryStamp& s = bank.stamp;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> pale(200, 240);
  TeethFrame frame;
  const size_t pixels = static_cast<size_t>(s.canvas_w) * static_cast<size_t>(s.canvas_h);
  frame.crop.resize(pixels * 3);
  frame.pi.assign(pixels, 0);
  for (uint8_t& b : frame.crop) b = static_cast<uint8_t>(byte(random));
  const double cx = bank.c_canon[0] + shift.sx;
  const double cy = bank.c_canon[1] + shift.sy;
  const double rx = s.window_w * 0.4;
  const double ry = s.window_h * 0.4;
  for (int32_t y = 0; y < s.canvas_h; ++y) {
    for (int32_t x = 0; x < s.canvas_w; ++x) {
      const double d = ((x - cx) / rx) * ((x - cx) / rx) + ((y - cy) / ry) * ((y - cy) / ry);
      if (d >= 1.3) continue;
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(s.canvas_w) + static_cast<size_t>(x);
      frame.pi[i] = d < 1.0 ? 255 : static_cast<uint8_t>(255 * (1.3 - d) / 0.3);
      if (d < 0.6 && (x + y) % 3 != 0) {
        const uint8_t v = static_cast<uint8_t>(pale(random));
        std::fill_n(frame.crop.begin() + static_cast<ptrdiff_t>(i * 3), 3, v);
      }
    }
  }
  return frame;
}

}  // namespace ko::test
