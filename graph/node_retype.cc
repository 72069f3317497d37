#include "graph/node_retype.h"

namespace ko {
namespace {

constexpr size_t kFieldOverhead = 8;

bool replacedBy(uint32_t number, const GsRetype& retype) {
  return number == onnx::kNodeOpType || number == onnx::kNodeDomain ||
         (number == onnx::kNodeAttribute && !retype.keepAttributes);
}

void putText(std::vector<uint8_t>& buffer, uint32_t field, std::string_view text) {
  gsPutBytes(buffer, field, text.data(), text.size());
}

size_t growthPerNode(const GsRetype& retype) {
  return retype.opType.size() + retype.domain.size() + 2 * kFieldOverhead;
}

}  // namespace

void gsPutRetypedNode(std::vector<uint8_t>& graph, GsSlice node, const GsRetype& retype) {
  std::vector<uint8_t> body;
  body.reserve(node.size + growthPerNode(retype));
  GsReader reader(node);
  GsField field;
  while (reader.next(field)) {
    if (!replacedBy(field.number, retype)) gsPutRaw(body, field.raw.data, field.raw.size);
  }
  putText(body, onnx::kNodeOpType, retype.opType);
  if (!retype.domain.empty()) putText(body, onnx::kNodeDomain, retype.domain);
  gsPutMessage(graph, onnx::kGraphNode, body);
}

std::vector<uint8_t> gsRetypeNodes(GsSlice model, const std::function<bool(GsSlice)>& select,
                                   const GsRetype& retype, size_t count) {
  const size_t growth = growthPerNode(retype) * count + kFieldOverhead;
  return gsWithGraphsRewritten(model, model.size + growth, [&](GsSlice graph) {
    return gsWithNodesRewritten(graph, graph.size + growth, [&](std::vector<uint8_t>& body, GsSlice node) {
      if (!select(node)) return false;
      gsPutRetypedNode(body, node, retype);
      return true;
    });
  });
}

}  // namespace ko
