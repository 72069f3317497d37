// Views of ONNX messages as ONNX Runtime's parser sees them, for the rewrites that decide from them:
// the last occurrence of a singular field wins, and the model's graph fields merge into one graph.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"

namespace ko {

// A NodeProto's fields, as views into the caller's bytes.
struct GsNodeView {
  GsSlice payload;
  std::string_view opType;
  std::string_view domain;
  std::string_view name;
  std::vector<std::string_view> inputs;
  std::vector<std::string_view> outputs;
  std::vector<GsSlice> attributes;  // the AttributeProto payloads, in order
};

// Malformed bytes throw the wire format's errors (graph/onnx_wire.h), here and below.
GsNodeView gsViewNode(GsSlice node);

// The last length-delimited occurrence of `field`, or an empty view.
std::string_view gsLastText(GsSlice message, uint32_t field);

// The last varint occurrence of `field`, or nothing.
std::optional<uint64_t> gsFindLastVarint(GsSlice message, uint32_t field);

// The last varint occurrence of `field`, or 0.
uint64_t gsLastVarint(GsSlice message, uint32_t field);

// Calls visit(payload) for every graph field of the model in order: protobuf merges repeated
// occurrences, so ONNX Runtime sees one graph holding all their fields, nodes numbered across them.
template <class Visit>
void gsForEachGraph(GsSlice model, Visit&& visit) {
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) {
    if (field.number == onnx::kModelGraph && field.wireType == kGsLengthDelimited) visit(field.payload);
  }
}

// Calls visit(payload) for every node of every graph field of the model, in the order ONNX Runtime
// numbers them.
template <class Visit>
void gsForEachNode(GsSlice model, Visit&& visit) {
  gsForEachGraph(model, [&visit](GsSlice graph) {
    GsReader reader(graph);
    GsField field;
    while (reader.next(field)) {
      if (field.number == onnx::kGraphNode && field.wireType == kGsLengthDelimited) visit(field.payload);
    }
  });
}

}  // namespace ko
