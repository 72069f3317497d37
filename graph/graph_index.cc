#include "graph/graph_index.h"

namespace ko {

GsGraphIndex GsGraphIndex::ofModel(GsSlice model) {
  GsGraphIndex index;
  gsForEachGraph(model, [&index](GsSlice graph) { index.add(graph); });
  return index;
}

GsGraphIndex GsGraphIndex::ofGraph(GsSlice graph) {
  GsGraphIndex index;
  index.add(graph);
  return index;
}

std::optional<size_t> GsGraphIndex::producerOf(std::string_view value) const {
  const auto found = producers_.find(value);
  if (found == producers_.end()) return std::nullopt;
  return found->second;
}

std::optional<size_t> GsGraphIndex::producerOf(std::string_view value, std::string_view opType) const {
  const std::optional<size_t> producer = producerOf(value);
  if (!producer || nodes_[*producer].opType != opType) return std::nullopt;
  return producer;
}

GsSlice GsGraphIndex::soleInitializer(std::string_view name) const {
  const auto found = initializers_.find(name);
  return found != initializers_.end() && found->second.size() == 1 ? found->second.front() : GsSlice{};
}

void GsGraphIndex::add(GsSlice graph) {
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kGraphNode)) addNode(field.payload);
    if (gsIsMessage(field, onnx::kGraphInitializer)) {
      const std::string_view name = gsLastText(field.payload, onnx::kTensorName);
      initializers_[name].push_back(field.payload);
      initializerList_.push_back(field.payload);
      names_.insert(name);
    }
    if (gsIsMessage(field, onnx::kGraphInput) || gsIsMessage(field, onnx::kGraphOutput) ||
        gsIsMessage(field, onnx::kGraphValueInfo)) {
      const std::string_view name = gsLastText(field.payload, onnx::kValueInfoName);
      if (field.number == onnx::kGraphInput) graphInputs_.insert(name);
      declared_.push_back(field.payload);
      names_.insert(name);
    }
  }
}

void GsGraphIndex::addNode(GsSlice payload) {
  nodes_.push_back(gsViewNode(payload));
  const GsNodeView& node = nodes_.back();
  for (std::string_view name : node.inputs) names_.insert(name);
  for (std::string_view name : node.outputs) {
    names_.insert(name);
    if (!name.empty()) producers_.emplace(name, nodes_.size() - 1);
  }
}

}  // namespace ko
