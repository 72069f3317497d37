#include "graph/resize_attrs.h"

#include <bitset>
#include <optional>
#include <string_view>

#include "graph/onnx_attribute.h"
#include "graph/onnx_schema.h"

namespace ko {
namespace {

enum Slot : size_t { kMode, kCoordinates, kPolicy, kCoeff, kAxes, kExclude, kAntialias, kSlotCount };

std::optional<Slot> slotOf(std::string_view name) {
  if (name == "mode") return kMode;
  if (name == "coordinate_transformation_mode") return kCoordinates;
  if (name == "keep_aspect_ratio_policy") return kPolicy;
  if (name == "cubic_coeff_a") return kCoeff;
  if (name == "axes") return kAxes;
  if (name == "exclude_outside") return kExclude;
  if (name == "antialias") return kAntialias;
  return std::nullopt;
}

bool takeText(const GsAttribute& attribute, std::string& out) {
  const std::optional<std::string_view> text = gsAttrText(attribute);
  if (text) out.assign(*text);
  return text.has_value();
}

bool takeFlag(const GsAttribute& attribute, bool& out) {
  const std::optional<int64_t> value = gsAttrInt(attribute);
  if (value) out = *value != 0;
  return value.has_value();
}

bool takeCoefficient(const GsAttribute& attribute, HcAttrs& attrs) {
  const std::optional<float> value = gsAttrFloat(attribute);
  if (value) attrs.cubicCoeffA = *value;
  attrs.hasCubicCoeffA = true;
  return value.has_value();
}

// False when the attribute's value is not of the type Resize defines for it.
bool take(Slot slot, const GsAttribute& attribute, HcAttrs& attrs) {
  switch (slot) {
    case kMode:
      return takeText(attribute, attrs.mode);
    case kCoordinates:
      return takeText(attribute, attrs.coordinateTransformationMode);
    case kPolicy:
      return takeText(attribute, attrs.keepAspectRatioPolicy);
    case kCoeff:
      return takeCoefficient(attribute, attrs);
    case kExclude:
      return takeFlag(attribute, attrs.excludeOutside);
    case kAntialias:
      return takeFlag(attribute, attrs.antialias);
    case kAxes:
      // Whatever its value, a stated axes list is what matters.
      attrs.hasAxes = true;
      return true;
    case kSlotCount:
      break;
  }
  return false;
}

}  // namespace

HcAttrs hcReadAttrs(GsSlice node) {
  HcAttrs attrs;
  std::bitset<kSlotCount> seen;
  GsReader reader(node);
  GsField field;
  while (reader.next(field)) {
    if (field.number != onnx::kNodeAttribute || field.wireType != kGsLengthDelimited) continue;
    const GsAttribute attribute = gsReadAttribute(field.payload);
    const std::optional<Slot> slot = slotOf(attribute.name);
    if (!slot) continue;
    if (seen.test(*slot)) attrs.unclear = true;
    seen.set(*slot);
    if (!take(*slot, attribute, attrs)) attrs.unclear = true;
  }
  return attrs;
}

}  // namespace ko
