#include "tools/demo/demo_face.h"

#include <algorithm>
#include <cmath>

#include "tools/demo/demo_geometry.h"
#include "tools/demo/row_bands.h"

namespace ko::demo {
namespace {

namespace g = geometry;

constexpr Rgb kSkin{0.93, 0.74, 0.62};
constexpr Rgb kHair{0.24, 0.15, 0.10};
constexpr Rgb kEyeWhite{0.96, 0.95, 0.93};
constexpr Rgb kIris{0.28, 0.45, 0.58};
constexpr Rgb kPupil{0.05, 0.04, 0.05};
constexpr Rgb kLash{0.12, 0.08, 0.08};
constexpr Rgb kBrow{0.22, 0.14, 0.10};
constexpr Rgb kLip{0.76, 0.36, 0.38};
constexpr Rgb kMouthGap{0.22, 0.05, 0.07};
constexpr Rgb kBlush{0.90, 0.45, 0.45};

Rgb scaled(const Rgb& c, double k) {
  return {c.r * k, c.g * k, c.b * k};
}

// A soft round spot: exp(-(dx^2 + dy^2)) in units of its radii, and exactly 0 where that is below
// about 1e-7, so the far field costs nothing.
double glow(double dx, double dy) {
  const double squared = dx * dx + dy * dy;
  return squared > 16.0 ? 0.0 : std::exp(-squared);
}

// Signed distance to an ellipse's outline, positive inside, to first order in the level set.
double ellipseDistance(double x, double y, double cx, double cy, double rx, double ry) {
  const double ux = (x - cx) / rx;
  const double uy = (y - cy) / ry;
  const double r = std::hypot(ux, uy);
  const double gradient = std::hypot(ux / rx, uy / ry);
  if (gradient < 1e-9) return std::min(rx, ry);
  return (1.0 - r) * r / gradient;
}

// How much of the head's ellipse faces the light: 0 at the rim, up to 1 facing it.
double headShading(double x, double y, const FaceLight& light) {
  const double nx = (x - g::kHeadX) / g::kHeadRx;
  const double ny = (y - g::kHeadY) / g::kHeadRy;
  const double nz = std::sqrt(std::max(0.0, 1.0 - nx * nx - ny * ny));
  const double length = std::sqrt(light.x * light.x + light.y * light.y + 1.0);
  const double facing = (nx * light.x + ny * light.y + nz) / length;
  return 0.62 + 0.38 * std::max(0.0, facing);
}

// The hairline over the forehead, dipping towards the temples.
double hairline(double x) {
  return -0.30 + 0.55 * x * x;
}

struct Pixel {
  double x;
  double y;
  double size;  // normalised units per pixel
  double cover(double distance) const { return coverage(distance, size); }
};

Rgb paintNeck(const Pixel& p, const Rgb& behind) {
  const double inside = std::min(p.cover(0.20 - std::abs(p.x)), p.cover(p.y - 0.35));
  const double shade = 0.78 + 0.08 * (1.0 - std::abs(p.x) / 0.20);
  return over(behind, scaled(kSkin, shade), inside);
}

Rgb paintHairCap(const Pixel& p, const Rgb& behind) {
  const double cap =
      std::min(p.cover(ellipseDistance(p.x, p.y, 0.0, -0.08, 0.57, 0.69)), p.cover(0.22 - p.y));
  const double sheen = 0.9 + 0.25 * glow((p.x + 0.18) / 0.12, (p.y + 0.55) / 0.08);
  return over(behind, scaled(kHair, sheen), cap);
}

Rgb paintEars(const Pixel& p, const Rgb& behind, double shade) {
  Rgb out = behind;
  for (const double side : {-1.0, 1.0}) {
    out = over(out, scaled(kSkin, 0.85 * shade),
               p.cover(ellipseDistance(p.x, p.y, side * 0.49, 0.06, 0.06, 0.11)));
  }
  return out;
}

Rgb paintSkin(const Pixel& p, const Rgb& behind, const FaceLight& light) {
  const double head = p.cover(ellipseDistance(p.x, p.y, g::kHeadX, g::kHeadY, g::kHeadRx, g::kHeadRy));
  Rgb skin = scaled(kSkin, headShading(p.x, p.y, light));
  for (const double side : {-1.0, 1.0}) {
    const double blush = glow((p.x - side * 0.27) / 0.08, (p.y - 0.21) / 0.06);
    skin = over(skin, kBlush, 0.14 * blush);
  }
  return over(behind, skin, head);
}

Rgb paintFringe(const Pixel& p, const Rgb& behind) {
  const double fringe =
      std::min(p.cover(ellipseDistance(p.x, p.y, 0.0, -0.08, 0.57, 0.69)), p.cover(hairline(p.x) - p.y));
  return over(behind, kHair, fringe);
}

Rgb paintBrows(const Pixel& p, const Rgb& behind) {
  Rgb out = behind;
  for (const double side : {-1.0, 1.0}) {
    const double t = (p.x - side * g::kBrowX) / g::kBrowHalfWidth;
    const double arc = g::kBrowY - 0.03 * (1.0 - t * t);
    const double slope = 0.06 * t / g::kBrowHalfWidth;
    const double distance = std::abs(p.y - arc) / std::sqrt(1.0 + slope * slope);
    const double thickness = 0.022 * (1.0 - 0.5 * std::abs(t + 0.3 * side));
    const double stroke =
        std::min(p.cover(thickness - distance), p.cover(g::kBrowHalfWidth * (1.0 - std::abs(t))));
    out = over(out, kBrow, stroke);
  }
  return out;
}

// The lash line of the upper lid: the top of the visible eye, lowest at the corners.
double lidLine(double dx) {
  return g::kEyeY - g::kLidRise + 0.9 * dx * dx;
}

Rgb paintEye(const Pixel& p, const Rgb& behind, double side) {
  const double cx = side * g::kEyeX;
  const double dx = p.x - cx;
  const double opening = std::min(p.cover(ellipseDistance(p.x, p.y, cx, g::kEyeY, g::kEyeRx, g::kEyeRy)),
                                  p.cover(p.y - lidLine(dx)));
  const double irisY = g::kEyeY + 0.004;
  const double irisR = std::hypot(dx, p.y - irisY);
  Rgb eye = scaled(kEyeWhite, 0.92 + 0.08 * std::clamp((p.y - lidLine(dx)) / 0.05, 0.0, 1.0));
  eye = over(eye, scaled(kIris, 1.1 - 0.5 * irisR / 0.042), p.cover(0.042 - irisR));
  eye = over(eye, kPupil, p.cover(0.018 - irisR));
  eye = over(eye, {1.0, 1.0, 1.0}, 0.9 * p.cover(0.008 - std::hypot(dx - 0.013, p.y - irisY + 0.013)));
  Rgb out = over(behind, eye, opening);
  const double crease = std::abs(p.y - (lidLine(dx) - 0.032 + 0.4 * dx * dx));
  const double span = p.cover(g::kEyeRx * 1.05 - std::abs(dx));
  out = over(out, scaled(behind, 0.82), 0.7 * std::min(p.cover(0.005 - crease), span));
  return over(out, kLash, std::min(p.cover(0.009 - std::abs(p.y - lidLine(dx))), span));
}

Rgb paintNose(const Pixel& p, const Rgb& behind) {
  const double bridge = glow((p.x - 0.045) / 0.018, 0.0) * p.cover(p.y + 0.02) * p.cover(g::kNoseY - p.y);
  Rgb out = over(behind, scaled(behind, 0.8), 0.35 * bridge);
  const double tip = glow(p.x / 0.05, (p.y - g::kNoseY + 0.01) / 0.03);
  out = over(out, {1.0, 0.9, 0.82}, 0.18 * tip);
  for (const double side : {-1.0, 1.0}) {
    const double nostril = ellipseDistance(p.x, p.y, side * 0.035, g::kNoseY + 0.015, 0.02, 0.011);
    out = over(out, scaled(behind, 0.55), 0.8 * p.cover(nostril));
  }
  return out;
}

// The gap between the lips, its corners turned up a little.
double mouthLine(double x) {
  return g::kMouthY - 0.35 * x * x;
}

Rgb paintLips(const Pixel& p, const Rgb& behind) {
  const double t = std::clamp(p.x / g::kMouthHalfWidth, -1.0, 1.0);
  const double width = p.cover(g::kMouthHalfWidth - std::abs(p.x));
  const double line = mouthLine(p.x);
  const double bow = 0.009 * glow(p.x / 0.025, 0.0);
  const double upperTop = line - g::kUpperLipHeight * std::pow(1.0 - t * t, 0.7) + bow;
  const double lowerBottom = line + g::kLowerLipHeight * std::sqrt(1.0 - t * t);
  const double upper = std::min({width, p.cover(p.y - upperTop), p.cover(line - p.y)});
  const double lower = std::min({width, p.cover(p.y - line), p.cover(lowerBottom - p.y)});
  Rgb out = over(behind, scaled(kLip, 0.86), upper);
  const double gloss = 1.0 + 0.18 * glow(p.x / 0.05, (p.y - line - 0.028) / 0.012);
  out = over(out, scaled(kLip, gloss), lower);
  const double gap =
      std::min(p.cover(0.0095 - std::abs(p.y - line)), p.cover(0.95 * g::kMouthHalfWidth - std::abs(p.x)));
  return over(out, kMouthGap, gap);
}

// Each feature is painted only inside the box it can reach, which keeps a large crop quick.
Rgb paintFeatures(const Pixel& p, Rgb skin) {
  const double x = std::abs(p.x);
  if (std::abs(x - g::kBrowX) < g::kBrowHalfWidth + 0.02 && std::abs(p.y - g::kBrowY) < 0.08) {
    skin = paintBrows(p, skin);
  }
  if (std::abs(x - g::kEyeX) < g::kEyeRx + 0.04 && std::abs(p.y - g::kEyeY) < 0.12) {
    skin = paintEye(p, skin, p.x < 0.0 ? -1.0 : 1.0);
  }
  if (x < 0.12 && p.y > -0.06 && p.y < g::kNoseY + 0.14) skin = paintNose(p, skin);
  if (x < g::kMouthHalfWidth + 0.02 && std::abs(p.y - g::kMouthY) < 0.1) skin = paintLips(p, skin);
  return skin;
}

Rgb paintHeadAt(const Pixel& p, const Rgb& behind, const FaceLight& light) {
  Rgb out = paintNeck(p, behind);
  out = paintHairCap(p, out);
  out = paintEars(p, out, headShading(p.x, p.y, light));
  out = paintSkin(p, out, light);
  out = paintFeatures(p, out);
  return paintFringe(p, out);
}

}  // namespace

std::vector<float> paintFace(int crop, const FaceLight& light, const Backdrop& backdrop) {
  const size_t plane = static_cast<size_t>(crop) * static_cast<size_t>(crop);
  std::vector<float> planes(3 * plane);
  const double size = 2.0 / crop;
  forRowBands(crop, [&](int begin, int end) {
    for (int row = begin; row < end; ++row) {
      for (int column = 0; column < crop; ++column) {
        const Pixel p{(column + 0.5) * size - 1.0, (row + 0.5) * size - 1.0, size};
        const Rgb c = paintHeadAt(p, backdrop(p.x, p.y), light);
        const size_t at = static_cast<size_t>(row) * static_cast<size_t>(crop) + static_cast<size_t>(column);
        planes[at] = static_cast<float>(std::clamp(c.r, 0.0, 1.0));
        planes[plane + at] = static_cast<float>(std::clamp(c.g, 0.0, 1.0));
        planes[2 * plane + at] = static_cast<float>(std::clamp(c.b, 0.0, 1.0));
      }
    }
  });
  return planes;
}

Rgb paintHead(double x, double y, double pixel, const Rgb& behind, const FaceLight& light) {
  return paintHeadAt(Pixel{x, y, pixel}, behind, light);
}

}  // namespace ko::demo
