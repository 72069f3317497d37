// Director-like ONNX models around the warp of "P_rgb", for the WarpDirector rewrite's tests and
// benchmark. The block the rewrite replaces:
//
//   P_rgb -> Pad(edge) -> three depthwise 3x3 Convs (second differences xx, yy, xxyy)
//   Concat(P_rgb, xx, yy, xxyy) = 12 channels [f RGB, fxx RGB, fyy RGB, fxxyy RGB]   (the cone's tip)
//   GridSample(tip, grid; bilinear, border, align_corners 0)
//   four Slices of 3 channels -> F, Fxx, Fyy, Fxxyy
//   ((F - cx*Fxx) - cy*Fyy) + (cx*cy)*Fxxyy                                          (the exit)
//
// with the grid, cx and cy computed outside the block from the graph input "grid_in" (the grid through
// an Identity, cx and cy from it as the operator defines them), and Relu(exit) as the output "Y".
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/ort_run.h"

namespace ko::test {

struct WarpBlockOptions {
  int64_t batch = 1;
  int64_t height = 8;
  int64_t width = 10;
  // The fused node's kind and padding mode.
  const char* gridSampleOp = "GridSample";
  const char* padding = "border";
  // Refusal shapes: a second GridSample on the tip (its result a second output "Z"), an intermediate
  // of the recombination also read outside (output "Z"), "P_rgb" also read by a Relu (output "Z"), a
  // second Concat reading "P_rgb", and "grid_in" handed to the GridSample directly.
  bool twoGridSamples = false;
  bool twoExits = false;
  bool prgbReadElsewhere = false;
  bool twoConcats = false;
  bool gridWithoutProducer = false;
  // Values the rewrite stops producing read elsewhere: the tip, or the GridSample's output, by a Relu
  // writing the output "Z".
  bool tipReadElsewhere = false;
  bool sampledReadElsewhere = false;
  // Only the block: "grid", "cx" and "cy" ([N, 1, H, W]) are graph inputs and the exit is the output
  // "Y" (no Relu). Nothing produces the grid, so the rewrite refuses this one; it is the benchmark's.
  bool bare = false;
};

// The names the rewrite reports for the default model.
inline constexpr const char* kWarpTip = "tip";
inline constexpr const char* kWarpGrid = "grid";
inline constexpr const char* kWarpExit = "exit";

std::vector<uint8_t> warpBlockModel(const WarpBlockOptions& options = {});

// The default model's block (GridSample, 4 Slices, 6 Mul/Sub/Add) and cone (Pad, 3 Convs, Concat).
inline constexpr size_t kWarpBlockNodes = 11;
inline constexpr size_t kWarpConeNodes = 5;

// One WarpDirector node: "S" [N, C, H, W] and "grid" [N, H, W, K] in, "Y" out, every dim symbolic.
std::vector<uint8_t> warpDirectorModel();

// The kernel warpDirector run on each image of a source [N, 3, H, W] with its grid [N, H, W, 2].
std::vector<float> warpEveryImage(const FloatTensor& source, const FloatTensor& grid);

// Runs a WarpDirector model on the given tensors; returns Y.
FloatTensor runWarpDirector(Ort::Session& session, const FloatTensor& source, const FloatTensor& grid);

}  // namespace ko::test
