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

// `message` re-encoded with each length-delimited field `number` offered to put(out, payload), which
// may append to out and returns whether it replaced the field; every other field, and one not
// replaced, follows as it stood. `capacity` sizes the result.
template <class Put>
std::vector<uint8_t> gsWithFieldsRewritten(GsSlice message, uint32_t number, size_t capacity, Put&& put) {
  std::vector<uint8_t> out;
  out.reserve(capacity);
  GsReader reader(message);
  GsField field;
  while (reader.next(field)) {
    const bool offered = field.number == number && field.wireType == kGsLengthDelimited;
    if (!offered || !put(out, field.payload)) gsPutRaw(out, field.raw.data, field.raw.size);
  }
  return out;
}

// `model` with each graph field's body replaced by rewriteGraph(payload).
template <class RewriteGraph>
std::vector<uint8_t> gsWithGraphsRewritten(GsSlice model, size_t capacity, RewriteGraph&& rewriteGraph) {
  return gsWithFieldsRewritten(model, onnx::kModelGraph, capacity,
                               [&](std::vector<uint8_t>& out, GsSlice graph) {
                                 gsPutMessage(out, onnx::kModelGraph, rewriteGraph(graph));
                                 return true;
                               });
}

// A graph body with each node field offered to putNode(body, payload), as gsWithFieldsRewritten does.
template <class PutNode>
std::vector<uint8_t> gsWithNodesRewritten(GsSlice graph, size_t capacity, PutNode&& putNode) {
  return gsWithFieldsRewritten(graph, onnx::kGraphNode, capacity, putNode);
}

}  // namespace ko
