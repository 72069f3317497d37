#include "graph/unread_initializers.h"

#include <string>
#include <unordered_set>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"

namespace ko {
namespace {

struct GraphReads {
  std::unordered_set<std::string> names;
  bool subgraphs = false;
};

bool hasSubgraph(GsSlice node) {
  GsReader nodeReader(node);
  GsField field;
  while (nodeReader.next(field)) {
    if (!gsIsMessage(field, onnx::kNodeAttribute)) continue;
    GsReader attrReader(field.payload);
    GsField attr;
    while (attrReader.next(attr)) {
      if (gsIsMessage(attr, onnx::kAttrG) || gsIsMessage(attr, onnx::kAttrGraphs)) return true;
    }
  }
  return false;
}

void collectReads(GsSlice graph, GraphReads& reads) {
  GsReader reader(graph);
  GsField field;
  std::vector<std::string> inputs;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kGraphNode)) {
      gsAllStr(field.payload, onnx::kNodeInput, inputs);
      reads.names.insert(inputs.begin(), inputs.end());
      reads.subgraphs = reads.subgraphs || hasSubgraph(field.payload);
    } else if (gsIsMessage(field, onnx::kGraphInput) || gsIsMessage(field, onnx::kGraphOutput)) {
      reads.names.insert(gsFirstStr(field.payload, onnx::kValueInfoName));
    }
  }
}

bool unread(const GsField& field, const GraphReads& reads) {
  return gsIsMessage(field, onnx::kGraphInitializer) &&
         !reads.names.contains(gsFirstStr(field.payload, onnx::kTensorName));
}

}  // namespace

size_t gsDropUnreadInitializers(std::vector<uint8_t>& model) {
  std::vector<GsSlice> graphs;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kModelGraph)) graphs.push_back(field.payload);
  }
  // Repeated occurrences of the graph field merge into one graph, so reads are collected over all.
  GraphReads reads;
  for (GsSlice graph : graphs) collectReads(graph, reads);
  if (reads.subgraphs) return 0;

  std::vector<uint8_t> body;
  size_t dropped = 0;
  for (GsSlice graph : graphs) {
    GsReader graphReader(graph);
    while (graphReader.next(field)) {
      if (unread(field, reads)) {
        ++dropped;
      } else {
        gsPutRaw(body, field.raw.data, field.raw.size);
      }
    }
  }
  if (dropped == 0) return 0;
  std::vector<uint8_t> rebuilt;
  rebuilt.reserve(model.size());
  GsReader modelReader(gsSliceOf(model));
  while (modelReader.next(field)) {
    if (!gsIsMessage(field, onnx::kModelGraph)) gsPutRaw(rebuilt, field.raw.data, field.raw.size);
  }
  gsPutMessage(rebuilt, onnx::kModelGraph, body);
  model.swap(rebuilt);
  return dropped;
}

}  // namespace ko
