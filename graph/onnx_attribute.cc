#include "graph/onnx_attribute.h"

#include <bit>

#include "graph/onnx_schema.h"

namespace ko {
namespace {

std::string_view textOf(GsSlice span) {
  return {reinterpret_cast<const char*>(span.data), span.size};
}

// A fixed32 field's value is the last four bytes of its raw span, little-endian.
float fixed32Float(const GsField& field) {
  const uint8_t* bytes = field.raw.data + field.raw.size - 4;
  const uint32_t bits =
      uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
  return std::bit_cast<float>(bits);
}

template <class T>
std::optional<T> ofType(const GsAttribute& attribute, uint64_t type, const std::optional<T>& value) {
  if (attribute.type == type) return value.value_or(T{});
  if (attribute.type == 0) return value;
  return std::nullopt;
}

}  // namespace

GsAttribute gsReadAttribute(GsSlice attribute) {
  GsAttribute read;
  GsReader reader(attribute);
  GsField field;
  while (reader.next(field)) {
    if (field.wireType == kGsLengthDelimited) {
      if (field.number == onnx::kAttrName) read.name = textOf(field.payload);
      if (field.number == onnx::kAttrS) read.s = textOf(field.payload);
    } else if (field.wireType == kGsVarint) {
      if (field.number == onnx::kAttrI) read.i = static_cast<int64_t>(field.varint);
      if (field.number == onnx::kAttrType) read.type = field.varint;
    } else if (field.wireType == kGsFixed32 && field.number == onnx::kAttrF) {
      read.f = fixed32Float(field);
    }
  }
  return read;
}

std::optional<std::string_view> gsAttrText(const GsAttribute& attribute) {
  return ofType(attribute, onnx::kAttrTypeString, attribute.s);
}

std::optional<int64_t> gsAttrInt(const GsAttribute& attribute) {
  return ofType(attribute, onnx::kAttrTypeInt, attribute.i);
}

std::optional<float> gsAttrFloat(const GsAttribute& attribute) {
  return ofType(attribute, onnx::kAttrTypeFloat, attribute.f);
}

}  // namespace ko
