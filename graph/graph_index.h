// A graph read once for the rewrites that look things up in it: its nodes in the order ONNX Runtime
// numbers them, which node produces each value, its initializers and declared values, and every
// name it mentions. Fields are read as ONNX Runtime's parser reads them (graph/onnx_view.h); every
// entry is a view into the caller's bytes, which must outlive the index.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "graph/onnx_view.h"

namespace ko {

class GsGraphIndex {
 public:
  // Every graph field of the model, merged as protobuf merges them.
  static GsGraphIndex ofModel(GsSlice model);
  // One GraphProto payload.
  static GsGraphIndex ofGraph(GsSlice graph);

  const std::vector<GsNodeView>& nodes() const { return nodes_; }
  const GsNodeView& node(size_t index) const { return nodes_[index]; }

  // The first node writing `value`, optionally only when it is of `opType`.
  std::optional<size_t> producerOf(std::string_view value) const;
  std::optional<size_t> producerOf(std::string_view value, std::string_view opType) const;

  // The TensorProto of the one initializer called `name`; empty when there is none, or several.
  GsSlice soleInitializer(std::string_view name) const;
  // Every initializer's TensorProto, and every input's, output's and value_info's ValueInfoProto, in
  // graph order.
  const std::vector<GsSlice>& initializers() const { return initializerList_; }
  const std::vector<GsSlice>& declaredValues() const { return declared_; }

  bool isInitializer(std::string_view name) const { return initializers_.contains(name); }
  // A graph input may override the initializer of its name, which then is no constant.
  bool isGraphInput(std::string_view name) const { return graphInputs_.contains(name); }
  // Whether any node, initializer, input, output or value_info uses the name.
  bool mentions(std::string_view name) const { return names_.contains(name); }

 private:
  void add(GsSlice graph);
  void addNode(GsSlice payload);

  std::vector<GsNodeView> nodes_;
  std::unordered_map<std::string_view, size_t> producers_;
  std::unordered_map<std::string_view, std::vector<GsSlice>> initializers_;
  std::vector<GsSlice> initializerList_;
  std::vector<GsSlice> declared_;
  std::unordered_set<std::string_view> graphInputs_;
  std::unordered_set<std::string_view> names_;
};

}  // namespace ko
