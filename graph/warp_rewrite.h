// The load-time replacement of the director's warp block by one WarpDirector node of "com.quandrel":
// the source cone that prepares "P_rgb" for sampling (graph/source_cone.h), the GridSample that warps
// it and the Slice/Mul/Sub/Add recombination after it. The rewritten model loads only in a session
// given registerWarpDirector (graph/custom_domain.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ko {

struct WarpBlock {
  std::string tip;    // the source cone's boundary, the fused GridSample's first input
  std::string grid;   // the fused GridSample's second input
  std::string exit;   // the recombination's one result read by the rest of the graph
  int64_t nodes = 0;  // the fused GridSample, the Slices on its output and the recombination
};

// Locates the block; returns its node count, or 0 with `reason` when the graph does not have exactly
// the expected shape. `reason` is cleared and `block` reset on entry. Malformed bytes throw the wire
// format's errors (graph/onnx_wire.h).
size_t findWarpBlock(const std::vector<uint8_t>& model, WarpBlock* block, std::string& reason);

// Replaces the cone and the block by one node "ko_warp_director" reading "P_rgb" and the grid and
// writing the exit, at the fused GridSample's place, and imports "com.quandrel" at version 1 unless
// the model already does. Returns the number of nodes removed; 0 with `reason`, or the wire format's
// errors, leave `model` as it was.
size_t rewriteWarpBlockToCustomOp(std::vector<uint8_t>& model, std::string& reason);

}  // namespace ko
