// Initializers that no node of a written graph reads. ONNX Runtime drops them itself, printing one
// warning for each; a rewrite that leaves some behind (the nodes that read them were replaced or
// moved to another graph) removes them before the graph is loaded, so a user sees only the library's
// own lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ko {

// Removes from `model` every initializer of its main graph that no node reads and that is neither a
// graph input nor a graph output; returns how many went. A graph with a subgraph attribute (If, Loop,
// Scan) is left whole, since a body may read an outer initializer by name. Throws the wire format's
// errors on a malformed model; `model` is then left unchanged.
size_t gsDropUnreadInitializers(std::vector<uint8_t>& model);

}  // namespace ko
