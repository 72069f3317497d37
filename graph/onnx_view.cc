#include "graph/onnx_view.h"

namespace ko {
namespace {

std::string_view textOf(GsSlice span) {
  return {reinterpret_cast<const char*>(span.data), span.size};
}

}  // namespace

GsNodeView gsViewNode(GsSlice node) {
  GsNodeView view;
  view.payload = node;
  GsReader reader(node);
  GsField field;
  while (reader.next(field)) {
    if (field.wireType != kGsLengthDelimited) continue;
    const std::string_view text = textOf(field.payload);
    if (field.number == onnx::kNodeInput) view.inputs.push_back(text);
    if (field.number == onnx::kNodeOutput) view.outputs.push_back(text);
    if (field.number == onnx::kNodeName) view.name = text;
    if (field.number == onnx::kNodeOpType) view.opType = text;
    if (field.number == onnx::kNodeDomain) view.domain = text;
    if (field.number == onnx::kNodeAttribute) view.attributes.push_back(field.payload);
  }
  return view;
}

std::string_view gsLastText(GsSlice message, uint32_t field) {
  std::string_view text;
  GsReader reader(message);
  GsField current;
  while (reader.next(current)) {
    if (current.number == field && current.wireType == kGsLengthDelimited) text = textOf(current.payload);
  }
  return text;
}

std::optional<uint64_t> gsFindLastVarint(GsSlice message, uint32_t field) {
  std::optional<uint64_t> value;
  GsReader reader(message);
  GsField current;
  while (reader.next(current)) {
    if (current.number == field && current.wireType == kGsVarint) value = current.varint;
  }
  return value;
}

uint64_t gsLastVarint(GsSlice message, uint32_t field) {
  return gsFindLastVarint(message, field).value_or(0);
}

}  // namespace ko
