#include "graph/gridsample_rewrite.h"

#include <initializer_list>
#include <optional>
#include <string_view>

#include "graph/onnx_schema.h"

namespace ko {
namespace {

constexpr std::string_view kFastOpType = "GridSampleFast";
constexpr std::string_view kFastDomain = "com.quandrel";
constexpr uint64_t kFastDomainVersion = 1;
constexpr size_t kModelGrowth = 64;
constexpr size_t kGrowthPerNode = 64;

bool isMessage(const GsField& field, uint32_t number) {
  return field.number == number && field.wireType == kGsLengthDelimited;
}

std::string_view textOf(GsSlice span) {
  return {reinterpret_cast<const char*>(span.data), span.size};
}

void putText(std::vector<uint8_t>& buffer, uint32_t field, std::string_view text) {
  gsPutBytes(buffer, field, text.data(), text.size());
}

// Protocol buffers keep the last occurrence of a singular field, and so does ONNX Runtime's parser;
// reading the first would let a crafted node look like one operator to us and another to it.
std::string_view lastText(GsSlice message, uint32_t number) {
  std::string_view text;
  GsReader reader(message);
  GsField field;
  while (reader.next(field)) {
    if (isMessage(field, number)) text = textOf(field.payload);
  }
  return text;
}

struct NodeView {
  std::string_view opType;
  std::string_view domain;
  std::vector<GsSlice> attributes;
};

NodeView viewNode(GsSlice node) {
  NodeView view;
  GsReader reader(node);
  GsField field;
  while (reader.next(field)) {
    if (isMessage(field, onnx::kNodeOpType)) view.opType = textOf(field.payload);
    if (isMessage(field, onnx::kNodeDomain)) view.domain = textOf(field.payload);
    if (isMessage(field, onnx::kNodeAttribute)) view.attributes.push_back(field.payload);
  }
  return view;
}

struct AttributeView {
  std::string_view name;
  std::string_view text;
  bool hasText = false;
  uint64_t integer = 0;
  uint64_t type = 0;  // 0: not stated
};

AttributeView viewAttribute(GsSlice attribute) {
  AttributeView view;
  GsReader reader(attribute);
  GsField field;
  while (reader.next(field)) {
    if (isMessage(field, onnx::kAttrName)) view.name = textOf(field.payload);
    if (isMessage(field, onnx::kAttrS)) {
      view.text = textOf(field.payload);
      view.hasText = true;
    }
    if (field.wireType != kGsVarint) continue;
    if (field.number == onnx::kAttrI) view.integer = field.varint;
    if (field.number == onnx::kAttrType) view.type = field.varint;
  }
  return view;
}

bool isTextAmong(const AttributeView& attribute, std::initializer_list<std::string_view> accepted) {
  if (attribute.type != 0 && attribute.type != onnx::kAttrTypeString) return false;
  if (!attribute.hasText) return false;
  for (std::string_view value : accepted) {
    if (attribute.text == value) return true;
  }
  return false;
}

bool isIntegerZero(const AttributeView& attribute) {
  return (attribute.type == 0 || attribute.type == onnx::kAttrTypeInt) && attribute.integer == 0;
}

bool attributesFitFast(const std::vector<GsSlice>& attributes) {
  std::optional<AttributeView> mode;
  std::optional<AttributeView> padding;
  std::optional<AttributeView> alignCorners;
  for (GsSlice raw : attributes) {
    const AttributeView attribute = viewAttribute(raw);
    std::optional<AttributeView>* slot = attribute.name == "mode"            ? &mode
                                         : attribute.name == "padding_mode"  ? &padding
                                         : attribute.name == "align_corners" ? &alignCorners
                                                                             : nullptr;
    if (slot == nullptr) continue;
    // Which of two statements a runtime honours is not ours to guess; such a node keeps its meaning.
    if (slot->has_value()) return false;
    *slot = attribute;
  }
  return mode && isTextAmong(*mode, {"bilinear", "linear"}) && padding && isTextAmong(*padding, {"border"}) &&
         (!alignCorners || isIntegerZero(*alignCorners));
}

// Calls visit(payload) for every node of every graph field of the model: protocol buffers merge
// repeated occurrences of the graph, so ONNX Runtime sees the nodes of all of them.
template <class Visit>
void forEachNode(GsSlice model, Visit&& visit) {
  GsReader modelReader(model);
  GsField graph;
  while (modelReader.next(graph)) {
    if (!isMessage(graph, onnx::kModelGraph)) continue;
    GsReader graphReader(graph.payload);
    GsField node;
    while (graphReader.next(node)) {
      if (isMessage(node, onnx::kGraphNode)) visit(node.payload);
    }
  }
}

struct ModelSurvey {
  size_t rewritable = 0;
  bool importsFastDomain = false;
};

ModelSurvey surveyModel(GsSlice model) {
  ModelSurvey survey;
  forEachNode(model,
              [&survey](GsSlice node) { survey.rewritable += gsIsRewritableGridSample(node) ? 1 : 0; });
  survey.importsFastDomain = gsImportsQuandrelDomain(model);
  return survey;
}

bool replacedInFastNode(uint32_t number) {
  return number == onnx::kNodeOpType || number == onnx::kNodeAttribute || number == onnx::kNodeDomain;
}

void putFastNode(std::vector<uint8_t>& graph, GsSlice node) {
  std::vector<uint8_t> body;
  body.reserve(node.size + kGrowthPerNode);
  GsReader reader(node);
  GsField field;
  while (reader.next(field)) {
    if (!replacedInFastNode(field.number)) gsPutRaw(body, field.raw.data, field.raw.size);
  }
  putText(body, onnx::kNodeOpType, kFastOpType);
  putText(body, onnx::kNodeDomain, kFastDomain);
  gsPutMessage(graph, onnx::kGraphNode, body);
}

std::vector<uint8_t> rewrittenGraph(GsSlice graph, size_t rewriteCount) {
  std::vector<uint8_t> body;
  body.reserve(graph.size + kGrowthPerNode * rewriteCount);
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (isMessage(field, onnx::kGraphNode) && gsIsRewritableGridSample(field.payload)) {
      putFastNode(body, field.payload);
    } else {
      gsPutRaw(body, field.raw.data, field.raw.size);
    }
  }
  return body;
}

}  // namespace

bool gsImportsQuandrelDomain(GsSlice model) {
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) {
    if (isMessage(field, onnx::kModelOpsetImport) &&
        lastText(field.payload, onnx::kOpsetDomain) == kFastDomain)
      return true;
  }
  return false;
}

void gsPutQuandrelImport(std::vector<uint8_t>& model) {
  std::vector<uint8_t> opset;
  putText(opset, onnx::kOpsetDomain, kFastDomain);
  gsPutVarintField(opset, onnx::kOpsetVersion, kFastDomainVersion);
  gsPutMessage(model, onnx::kModelOpsetImport, opset);
}

bool gsIsRewritableGridSample(GsSlice node) {
  const NodeView view = viewNode(node);
  if (view.opType != "GridSample") return false;
  if (!view.domain.empty() && view.domain != "ai.onnx") return false;
  return attributesFitFast(view.attributes);
}

bool graphHasBakedGridSampleFast(const std::vector<uint8_t>& model) {
  bool baked = false;
  forEachNode(gsSliceOf(model), [&baked](GsSlice node) {
    const NodeView view = viewNode(node);
    baked = baked || (view.opType == kFastOpType && view.domain == kFastDomain);
  });
  return baked;
}

size_t rewriteGridSampleToFast(std::vector<uint8_t>& model) {
  const GsSlice original = gsSliceOf(model);
  const ModelSurvey survey = surveyModel(original);
  if (survey.rewritable == 0) return 0;
  // Built aside and swapped in only when complete, so a failure leaves the caller's bytes as they were.
  std::vector<uint8_t> rebuilt;
  rebuilt.reserve(original.size + kModelGrowth);
  GsReader reader(original);
  GsField field;
  while (reader.next(field)) {
    if (isMessage(field, onnx::kModelGraph)) {
      gsPutMessage(rebuilt, onnx::kModelGraph, rewrittenGraph(field.payload, survey.rewritable));
    } else {
      gsPutRaw(rebuilt, field.raw.data, field.raw.size);
    }
  }
  if (!survey.importsFastDomain) gsPutQuandrelImport(rebuilt);
  model.swap(rebuilt);
  return survey.rewritable;
}

}  // namespace ko
