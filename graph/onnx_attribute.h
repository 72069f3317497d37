// One AttributeProto read into its name, stated type and scalar values, for rewrites that must know
// not only an attribute's value but whether it is of the type its operator expects.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "graph/onnx_wire.h"

namespace ko {

// Views into the caller's bytes. Protobuf keeps the last occurrence of a singular field, and so does
// ONNX Runtime's parser; these are the values it sees.
struct GsAttribute {
  std::string_view name;
  uint64_t type = 0;  // AttributeProto.AttributeType; 0 when not stated
  std::optional<std::string_view> s;
  std::optional<int64_t> i;
  std::optional<float> f;
};

// Malformed bytes throw the wire format's errors (graph/onnx_wire.h).
GsAttribute gsReadAttribute(GsSlice attribute);

// The attribute's value when it is of the asked type: stated so (an unset value then reads as
// protobuf's default), or not stated and holding that value. Empty for any other attribute.
std::optional<std::string_view> gsAttrText(const GsAttribute& attribute);
std::optional<int64_t> gsAttrInt(const GsAttribute& attribute);
std::optional<float> gsAttrFloat(const GsAttribute& attribute);

}  // namespace ko
