#include "graph/onnx_read.h"

#include <bit>
#include <utility>

#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"

namespace ko {
namespace {

std::string asString(GsSlice span) {
  return span.empty() ? std::string() : std::string(reinterpret_cast<const char*>(span.data), span.size);
}

// Protocol buffers store floats little-endian whatever the host's byte order.
float floatAt(const uint8_t* bytes) {
  const uint32_t bits =
      uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
  return std::bit_cast<float>(bits);
}

void appendFloats(GsSlice span, std::vector<float>& out) {
  for (size_t at = 0; at + 4 <= span.size; at += 4) out.push_back(floatAt(span.data + at));
}

// A fixed32 field's value is the last four bytes of its raw span.
float fixed32Float(const GsField& field) {
  return floatAt(field.raw.data + field.raw.size - 4);
}

void appendPackedVarints(GsSlice span, std::vector<int64_t>& out) {
  const uint8_t* cur = span.data;
  const uint8_t* end = span.data + span.size;
  while (cur != end) out.push_back(static_cast<int64_t>(gsReadVarint(cur, end)));
}

GsNodeInfo nodeInfo(const GsField& field) {
  GsNodeInfo node;
  node.raw = field.raw;
  node.opType = gsFirstStr(field.payload, onnx::kNodeOpType);
  GsReader reader(field.payload);
  GsField part;
  while (reader.next(part)) {
    if (gsIsMessage(part, onnx::kNodeInput)) node.inputs.push_back(asString(part.payload));
    if (gsIsMessage(part, onnx::kNodeOutput)) node.outputs.push_back(asString(part.payload));
  }
  return node;
}

// The dimensions of a ValueInfoProto's tensor shape, in order.
std::vector<GsSlice> shapeDims(GsSlice valueInfo) {
  const GsSlice type = gsFirstMsg(valueInfo, onnx::kValueInfoType);
  const GsSlice tensorType = gsFirstMsg(type, onnx::kTypeTensorType);
  const GsSlice shape = gsFirstMsg(tensorType, onnx::kTensorTypeShape);
  std::vector<GsSlice> dims;
  GsReader reader(shape);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kShapeDim)) dims.push_back(field.payload);
  }
  return dims;
}

int64_t dimValue(GsSlice dim) {
  return static_cast<int64_t>(gsLastVarint(dim, onnx::kDimValue));
}

}  // namespace

GsSlice gsGraphOf(GsSlice model) {
  return gsFirstMsg(model, onnx::kModelGraph);
}

GsSlice gsFirstMsg(GsSlice message, uint32_t field) {
  GsReader reader(message);
  GsField current;
  while (reader.next(current)) {
    if (gsIsMessage(current, field)) return current.payload;
  }
  return {};
}

std::string gsFirstStr(GsSlice message, uint32_t field) {
  return asString(gsFirstMsg(message, field));
}

void gsAllStr(GsSlice message, uint32_t field, std::vector<std::string>& out) {
  out.clear();
  GsReader reader(message);
  GsField current;
  while (reader.next(current)) {
    if (gsIsMessage(current, field)) out.push_back(asString(current.payload));
  }
}

void gsReadGraph(GsSlice graph, std::vector<GsNodeInfo>& nodes,
                 std::unordered_set<std::string>& initializerNames,
                 std::unordered_set<std::string>& inputNames) {
  nodes.clear();
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kGraphNode)) {
      nodes.push_back(nodeInfo(field));
    } else if (gsIsMessage(field, onnx::kGraphInitializer)) {
      initializerNames.insert(gsFirstStr(field.payload, onnx::kTensorName));
    } else if (gsIsMessage(field, onnx::kGraphInput)) {
      inputNames.insert(gsFirstStr(field.payload, onnx::kValueInfoName));
    }
  }
}

GsSlice hcPayload(GsSlice span) {
  GsReader reader(span);
  GsField field;
  if (!reader.next(field) || field.wireType != kGsLengthDelimited) return {};
  return field.payload;
}

void hcTensorDims(GsSlice tensor, std::vector<int64_t>& out) {
  out.clear();
  GsReader reader(tensor);
  GsField field;
  while (reader.next(field)) {
    if (field.number != onnx::kTensorDims) continue;
    if (field.wireType == kGsVarint) out.push_back(static_cast<int64_t>(field.varint));
    if (field.wireType == kGsLengthDelimited) appendPackedVarints(field.payload, out);
  }
}

bool hcTensorFloats(GsSlice tensor, std::vector<float>& out) {
  out.clear();
  uint64_t dataType = 0;
  bool hasRaw = false;
  GsSlice raw;
  std::vector<float> floatData;
  GsReader reader(tensor);
  GsField field;
  while (reader.next(field)) {
    // data_type and raw_data are singular: the last occurrence is the one protobuf keeps.
    if (field.number == onnx::kTensorDataType && field.wireType == kGsVarint) dataType = field.varint;
    if (gsIsMessage(field, onnx::kTensorRawData)) {
      hasRaw = true;
      raw = field.payload;
    }
    if (field.number == onnx::kTensorFloatData && field.wireType == kGsFixed32) {
      floatData.push_back(fixed32Float(field));
    }
    if (gsIsMessage(field, onnx::kTensorFloatData)) appendFloats(field.payload, floatData);
  }
  if (dataType != static_cast<uint64_t>(onnx::kFloat)) return false;
  if (hasRaw) {
    appendFloats(raw, out);
  } else {
    out = std::move(floatData);
  }
  return !out.empty();
}

GsSlice hcConstValue(GsSlice node) {
  GsReader reader(node);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kNodeAttribute) && gsFirstStr(field.payload, onnx::kAttrName) == "value") {
      return gsFirstMsg(field.payload, onnx::kAttrT);
    }
  }
  return {};
}

void ldInputDims(GsSlice graph, const std::string& name, int64_t& first, int64_t& last, int64_t& rank) {
  first = last = rank = 0;
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (!gsIsMessage(field, onnx::kGraphInput) || gsFirstStr(field.payload, onnx::kValueInfoName) != name)
      continue;
    const std::vector<GsSlice> dims = shapeDims(field.payload);
    rank = static_cast<int64_t>(dims.size());
    if (!dims.empty()) {
      first = dimValue(dims.front());
      last = dimValue(dims.back());
    }
    return;
  }
}

}  // namespace ko
