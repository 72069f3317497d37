// The WarpDirector operator of the "com.quandrel" domain: the director's source S [N, 3, H, W] and a
// grid [N, H, W, 2] in, S's shape out, computed by the two-pass form of graph/warp_director.h in bands
// of 16 rows on ONNX Runtime's intra-op threads.
#pragma once

#include <cstdint>
#include <span>

struct OrtCustomOp;

namespace ko {

// The operator description, created once per process.
const OrtCustomOp* warpDirectorOp();

// Throws std::invalid_argument naming the first way the tensors do not fit the operator: ranks, a
// channel count other than 3, the grid's batch, spatial size or last dimension against S's, or an
// image too large for the kernel. A graph that arrives with the node already in it is not shaped by
// our rewrite, so the kernel cannot rely on the graph alone.
void checkWarpDirectorShapes(std::span<const int64_t> sourceShape, std::span<const int64_t> gridShape);

}  // namespace ko
