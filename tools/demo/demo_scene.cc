#include "tools/demo/demo_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/demo/row_bands.h"

namespace ko::demo {
namespace {

constexpr double kHeadShare = 0.569;   // the crop's side as a share of the frame's height
constexpr double kHeadCentreY = 0.42;  // the crop's centre, as a share of the frame's height
constexpr double kShoulderTop = 0.71;  // share of the frame's height
constexpr double kShoulderDepth = 0.36;
constexpr Rgb kWallTop{0.87, 0.81, 0.72};
constexpr Rgb kWallBottom{0.68, 0.62, 0.56};
constexpr Rgb kSkyTop{0.58, 0.76, 0.94};
constexpr Rgb kSkyBottom{0.86, 0.92, 0.97};
constexpr Rgb kWindowFrame{0.95, 0.94, 0.91};
constexpr Rgb kWood{0.52, 0.36, 0.22};
constexpr Rgb kShirt{0.22, 0.40, 0.55};

// Pixel coverage of an axis-aligned box, in pixel units.
double boxCover(double x, double y, double x0, double y0, double x1, double y1) {
  return std::min({coverage(x - x0), coverage(x1 - x), coverage(y - y0), coverage(y1 - y)});
}

Rgb paintWindow(const DemoRecipe& r, double x, double y, const Rgb& behind) {
  const double x0 = 0.07 * r.W, x1 = 0.30 * r.W, y0 = 0.12 * r.H, y1 = 0.55 * r.H;
  const double bar = std::max(1.0, 0.008 * r.W);
  if (x < x0 - bar - 1 || x > x1 + bar + 1 || y < y0 - bar - 1 || y > y1 + bar + 1) return behind;
  Rgb out = over(behind, kWindowFrame, boxCover(x, y, x0 - bar, y0 - bar, x1 + bar, y1 + bar));
  const double midX = 0.5 * (x0 + x1), midY = 0.5 * (y0 + y1);
  const Rgb sky = over(kSkyTop, kSkyBottom, std::clamp((y - y0) / (y1 - y0), 0.0, 1.0));
  const double pane = boxCover(x, y, x0, y0, x1, y1) *
                      (1.0 - boxCover(x, y, midX - bar / 2, y0, midX + bar / 2, y1)) *
                      (1.0 - boxCover(x, y, x0, midY - bar / 2, x1, midY + bar / 2));
  return over(out, sky, pane);
}

Rgb paintShelf(const DemoRecipe& r, double x, double y, const Rgb& behind) {
  const double x0 = 0.70 * r.W, x1 = 0.95 * r.W, top = 0.40 * r.H, plank = 0.02 * r.H;
  if (x < x0 - 1 || x > x1 + 5 || y < top - 0.25 * r.H || y > top + 2 * plank + 1) return behind;
  Rgb out = over(behind, kWood, boxCover(x, y, x0, top, x1, top + plank));
  out = over(out, over(behind, kWallBottom, 0.6),
             0.5 * boxCover(x, y, x0 + 4, top + plank, x1 + 4, top + 2 * plank));
  constexpr std::array<Rgb, 5> kBooks{
      {{0.62, 0.18, 0.16}, {0.20, 0.34, 0.52}, {0.78, 0.62, 0.24}, {0.26, 0.48, 0.30}, {0.45, 0.28, 0.42}}};
  double left = x0 + 0.02 * r.W;
  for (size_t i = 0; i < kBooks.size(); ++i) {
    const double width = (0.018 + 0.004 * static_cast<double>(i % 3)) * r.W;
    const double height = (0.11 + 0.025 * static_cast<double>((i * 2) % 5)) * r.H;
    out = over(out, kBooks[i], boxCover(x, y, left, top - height, left + width, top));
    left += width + 0.003 * r.W;
  }
  return out;
}

// Shoulders: the top of a wide ellipse below the frame, shaded towards its sides.
Rgb paintShirt(const DemoRecipe& r, double x, double y, const Rgb& behind) {
  if (y < kShoulderTop * r.H - 2.0) return behind;
  const double dx = (x - 0.5 * r.W) / (0.27 * r.W);
  const double dy = (y - kShoulderTop * r.H - kShoulderDepth * r.H) / (kShoulderDepth * r.H);
  const double radius = std::hypot(dx, dy);
  const double edge = (1.0 - radius) * kShoulderDepth * r.H;
  const double inside = std::clamp(0.5 + edge, 0.0, 1.0);
  const double shade = 0.85 + 0.2 * (1.0 - std::min(1.0, std::abs(dx)));
  const Rgb cloth = {kShirt.r * shade, kShirt.g * shade, kShirt.b * shade};
  const double collar = std::clamp(0.5 + (3.0 - std::abs(edge - 0.012 * r.H)), 0.0, 1.0);
  return over(over(behind, cloth, inside), {0.15, 0.27, 0.38}, 0.6 * collar * inside);
}

uint8_t toByte(double value) {
  return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

}  // namespace

PasteTransform pasteTransform(const DemoRecipe& r, int si) {
  const double phase = 2.0 * std::numbers::pi * si / std::max(r.NT, 1);
  const double scale = kHeadShare * r.H / r.crop;
  const double turn = 0.015 * std::sin(phase);
  const double cx = 0.5 * r.W + 0.006 * r.W * std::sin(phase + 0.7);
  const double cy = kHeadCentreY * r.H + 0.004 * r.H * std::sin(2.0 * phase);
  const double a = scale * std::cos(turn), b = -scale * std::sin(turn);
  const double d = scale * std::sin(turn), e = scale * std::cos(turn);
  const double half = 0.5 * (r.crop - 1);
  const double values[6] = {a, b, cx - (a + b) * half, d, e, cy - (d + e) * half};
  PasteTransform M;
  std::transform(values, values + 6, M.begin(), [](double v) { return static_cast<float>(v); });
  return M;
}

Rgb wallColour(const DemoRecipe& r, double x, double y) {
  const Rgb wall = over(kWallTop, kWallBottom, std::clamp(y / r.H, 0.0, 1.0));
  const double vignette = 1.0 - 0.08 * ((x - 0.5 * r.W) / (0.5 * r.W)) * ((x - 0.5 * r.W) / (0.5 * r.W));
  return {wall.r * vignette, wall.g * vignette, wall.b * vignette};
}

FaceLight sourceLight(const DemoRecipe& r, int si) {
  const double phase = 2.0 * std::numbers::pi * si / r.NT;
  FaceLight light;
  light.x += 0.12 * std::sin(phase);
  light.y += 0.06 * std::cos(phase);
  return light;
}

std::vector<uint8_t> driverFrame(const DemoRecipe& r, int si) {
  const PasteTransform M = pasteTransform(r, si);
  const FaceLight light = sourceLight(r, si);
  // Frame to crop: the inverse of M, then crop pixels to normalised coordinates.
  const double det = static_cast<double>(M[0]) * M[4] - static_cast<double>(M[1]) * M[3];
  const double toCrop = 2.0 / r.crop;
  const double pixel = toCrop / std::sqrt(std::abs(det));
  const double reach = 0.75 * r.crop * std::sqrt(std::abs(det));
  const double headX = M[0] * 0.5 * r.crop + M[1] * 0.5 * r.crop + M[2];
  const double headY = M[3] * 0.5 * r.crop + M[4] * 0.5 * r.crop + M[5];
  std::vector<uint8_t> rgb(static_cast<size_t>(r.W) * static_cast<size_t>(r.H) * 3);
  forRowBands(r.H, [&](int begin, int end) {
    for (int row = begin; row < end; ++row) {
      for (int column = 0; column < r.W; ++column) {
        const double x = column + 0.5, y = row + 0.5;
        Rgb c = paintShelf(r, x, y, paintWindow(r, x, y, wallColour(r, x, y)));
        if (std::abs(x - headX) < reach && y > headY - reach) {
          const double fx = x - 0.5 - M[2], fy = y - 0.5 - M[5];
          const double cropX = (M[4] * fx - M[1] * fy) / det, cropY = (-M[3] * fx + M[0] * fy) / det;
          c = paintHead((cropX + 0.5) * toCrop - 1.0, (cropY + 0.5) * toCrop - 1.0, pixel, c, light);
        }
        c = paintShirt(r, x, y, c);
        uint8_t* out =
            &rgb[(static_cast<size_t>(row) * static_cast<size_t>(r.W) + static_cast<size_t>(column)) * 3];
        out[0] = toByte(c.r);
        out[1] = toByte(c.g);
        out[2] = toByte(c.b);
      }
    }
  });
  return rgb;
}

std::string pasteMask(int crop) {
  constexpr double kFeather = 0.22;  // share of the radius over which the edge fades
  std::string mask(static_cast<size_t>(crop) * static_cast<size_t>(crop), '\0');
  for (int row = 0; row < crop; ++row) {
    for (int column = 0; column < crop; ++column) {
      const double x = (column + 0.5) * 2.0 / crop - 1.0, y = (row + 0.5) * 2.0 / crop - 1.0;
      const double radius = std::hypot(x / 0.78, (y + 0.02) / 0.92);
      const double t = std::clamp((1.0 - radius) / kFeather, 0.0, 1.0);
      const double alpha = t * t * (3.0 - 2.0 * t);
      mask[static_cast<size_t>(row) * static_cast<size_t>(crop) + static_cast<size_t>(column)] =
          static_cast<char>(std::lround(alpha * 255.0));
    }
  }
  return mask;
}

}  // namespace ko::demo
