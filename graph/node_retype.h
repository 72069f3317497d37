// Re-emitting a model around rewritten nodes: only the graph fields are re-encoded, every other field
// and every node the rewrite leaves alone is copied byte for byte where it stood.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"

namespace ko {

// What a node becomes: its op_type and domain replaced (no domain field when `domain` is empty), its
// attributes kept or dropped.
struct GsRetype {
  std::string_view opType;
  std::string_view domain;
  bool keepAttributes = true;
};

// Appends `node` (a NodeProto payload) to `graph` as a node field, retyped; its other fields keep
// their order.
void gsPutRetypedNode(std::vector<uint8_t>& graph, GsSlice node, const GsRetype& retype);

// `model` with every node `select` picks retyped, in every graph field. `count` (how many are picked)
// only sizes the buffers. Malformed bytes throw the wire format's errors (graph/onnx_wire.h).
std::vector<uint8_t> gsRetypeNodes(GsSlice model, const std::function<bool(GsSlice)>& select,
                                   const GsRetype& retype, size_t count);

// `model` with each graph field's body replaced by rewriteGraph(payload); `capacity` sizes the result.
template <class RewriteGraph>
std::vector<uint8_t> gsWithGraphsRewritten(GsSlice model, size_t capacity, RewriteGraph&& rewriteGraph) {
  std::vector<uint8_t> rebuilt;
  rebuilt.reserve(capacity);
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) {
    if (field.number == onnx::kModelGraph && field.wireType == kGsLengthDelimited) {
      gsPutMessage(rebuilt, onnx::kModelGraph, rewriteGraph(field.payload));
    } else {
      gsPutRaw(rebuilt, field.raw.data, field.raw.size);
    }
  }
  return rebuilt;
}

// A graph body with each node field offered to putNode(body, payload), which may append to body and
// returns whether it replaced the node; a node not replaced follows as it stood.
template <class PutNode>
std::vector<uint8_t> gsWithNodesRewritten(GsSlice graph, size_t capacity, PutNode&& putNode) {
  std::vector<uint8_t> body;
  body.reserve(capacity);
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    const bool isNode = field.number == onnx::kGraphNode && field.wireType == kGsLengthDelimited;
    if (!isNode || !putNode(body, field.payload)) gsPutRaw(body, field.raw.data, field.raw.size);
  }
  return body;
}

}  // namespace ko
