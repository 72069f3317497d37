// Splitting the director at the end of its source cone: the nodes that depend only on the warp prior
// "P_rgb" move to a prep model run once per source frame, and the per-frame model reads their result
// as a graph input instead of recomputing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_read.h"

namespace ko {

// Counts the graph's "Concat" nodes reading "P_rgb"; `boundary` receives the first output of the
// first such node (cleared when there is none). Callers require a count of exactly 1.
size_t findSourceConeBoundary(const std::vector<uint8_t>& model, std::string& boundary);

// Marks, one flag per node of `nodes`, the nodes that compute `boundary` from "P_rgb", initializers
// and Constant nodes. Returns the number of cone nodes, or 0 with `reason` when the cone reads another
// graph input, has a value nobody produces, or is read from outside other than through `boundary`.
size_t gsSourceCone(const std::vector<GsNodeInfo>& nodes,
                    const std::unordered_set<std::string>& initializerNames,
                    const std::unordered_set<std::string>& inputNames, const std::string& boundary,
                    std::vector<uint8_t>& inCone, std::string& reason);

// The prep model: "P_rgb" in, `boundary` out (rank 4, symbolic dims), the cone's nodes and the
// graph's Constant nodes. Returns the number of cone nodes, or 0 with `reason` and `prep` untouched.
size_t buildSourceConePrep(const std::vector<uint8_t>& model, const std::string& boundary,
                           std::vector<uint8_t>& prep, std::string& reason);

// The per-frame model: the cone's nodes and the "P_rgb" input removed, `boundary` added as an input of
// `rank` dims (a dim below 1 is symbolic). Returns the number of cone nodes removed, or 0 with
// `reason` and `perFrame` untouched.
size_t buildSourceConePerFrame(const std::vector<uint8_t>& model, const std::string& boundary,
                               const int64_t* dims, size_t rank, std::vector<uint8_t>& perFrame,
                               std::string& reason);

}  // namespace ko
