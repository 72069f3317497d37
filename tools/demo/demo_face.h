// The demo identity's face, painted procedurally: a shaded head under a cap of hair, eyes with iris,
// pupil and upper lid, eyebrows, a hint of a nose and lips parted by a dark gap, on whatever lies
// behind the head. Every edge is antialiased by its coverage of the pixel, taken from the distance to
// the edge, so the face stays clean at any crop size.
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

namespace ko::demo {

struct Rgb {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
};

// Paint laid over a colour with the given opacity (0 keeps it, 1 replaces it).
inline Rgb over(const Rgb& base, const Rgb& paint, double alpha) {
  return {base.r + (paint.r - base.r) * alpha, base.g + (paint.g - base.g) * alpha,
          base.b + (paint.b - base.b) * alpha};
}

// The share of a pixel `pixel` units wide that lies on the inside of an edge `distance` away
// (positive inside).
inline double coverage(double distance, double pixel = 1.0) {
  return std::clamp(0.5 + distance / pixel, 0.0, 1.0);
}

// The colour behind the head at a crop point (normalised x, y as in demo_geometry.h).
using Backdrop = std::function<Rgb(double x, double y)>;

// Where the key light comes from, as a direction in the crop's plane (x right, y down) tilted towards
// the viewer; small changes between source frames shift the shading a little.
struct FaceLight {
  double x = -0.35;
  double y = -0.45;
};

// crop x crop pixels as planes R, G, B of floats in [0, 1].
std::vector<float> paintFace(int crop, const FaceLight& light, const Backdrop& backdrop);

// The whole head, face and all, over `behind`, at crop point (x, y) where one pixel spans `pixel`
// normalised units: what a driver frame shows where the rendered face is pasted, as footage of the
// person would, so the idle frames between utterances show the face too.
Rgb paintHead(double x, double y, double pixel, const Rgb& behind, const FaceLight& light);

}  // namespace ko::demo
