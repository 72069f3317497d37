#include "tools/authoring/bank_track.h"

#include <algorithm>
#include <cmath>

#include "tools/media/movie_encoder.h"

namespace ko::authoring {
namespace {

uint8_t channel(double v) {
  return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

std::vector<RgbPatch> paintedDonors(int n, int bandW, int bandH) {
  std::vector<RgbPatch> donors;
  for (int d = 0; d < n; ++d) {
    RgbPatch patch(static_cast<size_t>(bandW) * bandH * 3);
    const double aperture = 0.15 + 0.7 * (n > 1 ? static_cast<double>(d) / (n - 1) : 0.5);
    for (int y = 0; y < bandH; ++y) {
      for (int x = 0; x < bandW; ++x) {
        const double u = (x + 0.5) / bandW * 2 - 1, v = ((y + 0.5) / bandH * 2 - 1) / aperture;
        const double r = u * u + v * v;
        uint8_t* px = patch.data() + (static_cast<size_t>(y) * bandW + x) * 3;
        if (r < 1.0) {
          const bool tooth = std::fabs(v) < 0.6 && std::fmod(std::fabs(u) * 6 + 0.5, 1.0) > 0.12;
          const double shade = tooth ? 235 - 20 * std::fabs(v) : 60 + 20 * r;
          px[0] = channel(tooth ? shade : shade + 40);
          px[1] = channel(tooth ? shade - 5 : shade * 0.4);
          px[2] = channel(tooth ? shade - 15 : shade * 0.4);
        } else {
          px[0] = channel(170 + 8 * d % 40);
          px[1] = channel(90 + 30 * u);
          px[2] = channel(95 + 20 * v / 4);
        }
      }
    }
    donors.push_back(std::move(patch));
  }
  return donors;
}

void writeBankTrack(const std::string& path, const std::vector<RgbPatch>& frames, int bandW, int bandH,
                    const std::string& pixFmt) {
  tools::MovieSettings settings;
  settings.width = bandW;
  settings.height = bandH;
  settings.codec = pixFmt == "rgb24" ? "libx264rgb" : "libx264";
  settings.pixFmt = pixFmt;
  tools::MovieEncoder movie(path, settings);
  for (const RgbPatch& frame : frames) movie.encodeRgb(frame.data());
  movie.finish();
}

}  // namespace ko::authoring
