#include "graph/gridsample_rewrite.h"

#include <initializer_list>
#include <optional>
#include <string_view>

#include "graph/node_retype.h"
#include "graph/onnx_attribute.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"

namespace ko {
namespace {

constexpr std::string_view kFastOpType = "GridSampleFast";
constexpr std::string_view kFastDomain = "com.quandrel";
constexpr uint64_t kFastDomainVersion = 1;
constexpr GsRetype kToFast{kFastOpType, kFastDomain, false};

bool isTextAmong(const GsAttribute& attribute, std::initializer_list<std::string_view> accepted) {
  const std::optional<std::string_view> text = gsAttrText(attribute);
  if (!text) return false;
  for (std::string_view value : accepted) {
    if (*text == value) return true;
  }
  return false;
}

// An integer attribute stating no value reads as protobuf's default, 0.
bool isIntegerZero(const GsAttribute& attribute) {
  return (attribute.type == 0 || attribute.type == onnx::kAttrTypeInt) && attribute.i.value_or(0) == 0;
}

bool attributesFitFast(const std::vector<GsSlice>& attributes) {
  std::optional<GsAttribute> mode;
  std::optional<GsAttribute> padding;
  std::optional<GsAttribute> alignCorners;
  for (GsSlice raw : attributes) {
    const GsAttribute attribute = gsReadAttribute(raw);
    std::optional<GsAttribute>* slot = attribute.name == "mode"            ? &mode
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

size_t countRewritable(GsSlice model) {
  size_t rewritable = 0;
  gsForEachNode(model, [&rewritable](GsSlice node) { rewritable += gsIsRewritableGridSample(node) ? 1 : 0; });
  return rewritable;
}

}  // namespace

bool gsImportsQuandrelDomain(GsSlice model) {
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) {
    if (field.number == onnx::kModelOpsetImport && field.wireType == kGsLengthDelimited &&
        gsLastText(field.payload, onnx::kOpsetDomain) == kFastDomain)
      return true;
  }
  return false;
}

void gsPutQuandrelImport(std::vector<uint8_t>& model) {
  std::vector<uint8_t> opset;
  gsPutBytes(opset, onnx::kOpsetDomain, kFastDomain.data(), kFastDomain.size());
  gsPutVarintField(opset, onnx::kOpsetVersion, kFastDomainVersion);
  gsPutMessage(model, onnx::kModelOpsetImport, opset);
}

bool gsIsRewritableGridSample(GsSlice node) {
  const GsNodeView view = gsViewNode(node);
  if (view.opType != "GridSample") return false;
  if (!view.domain.empty() && view.domain != "ai.onnx") return false;
  return attributesFitFast(view.attributes);
}

bool graphHasBakedGridSampleFast(const std::vector<uint8_t>& model) {
  bool baked = false;
  gsForEachNode(gsSliceOf(model), [&baked](GsSlice node) {
    const GsNodeView view = gsViewNode(node);
    baked = baked || (view.opType == kFastOpType && view.domain == kFastDomain);
  });
  return baked;
}

size_t rewriteGridSampleToFast(std::vector<uint8_t>& model) {
  const GsSlice original = gsSliceOf(model);
  const size_t rewritable = countRewritable(original);
  const bool importsFastDomain = gsImportsQuandrelDomain(original);
  if (rewritable == 0) return 0;
  // Built aside and swapped in only when complete, so a failure leaves the caller's bytes as they were.
  std::vector<uint8_t> rebuilt = gsRetypeNodes(original, gsIsRewritableGridSample, kToFast, rewritable);
  if (!importsFastDomain) gsPutQuandrelImport(rebuilt);
  model.swap(rebuilt);
  return rewritable;
}

}  // namespace ko
