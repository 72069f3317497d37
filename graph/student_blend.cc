#include "graph/student_blend.h"

#include <optional>
#include <string_view>
#include <unordered_set>

#include "graph/graph_index.h"
#include "graph/node_retype.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"

namespace ko {
namespace {

constexpr uint64_t kFirstOpsetWithOptionalC = 11;
// Gemm lives in the default domain, which a node states by naming none.
constexpr GsRetype kToGemm{"Gemm", "", true};

bool isDefaultDomain(std::string_view domain) {
  return domain.empty() || domain == "ai.onnx";
}

// The rank a ValueInfoProto declares, when it declares a shape. Protobuf merges repeated occurrences of
// the shape, their dims concatenated.
std::optional<size_t> declaredRank(GsSlice valueInfo) {
  const GsSlice tensorType = gsFirstMsg(gsFirstMsg(valueInfo, onnx::kValueInfoType), onnx::kTypeTensorType);
  std::optional<size_t> rank;
  GsReader reader(tensorType);
  GsField field;
  while (reader.next(field)) {
    if (!gsIsMessage(field, onnx::kTensorTypeShape)) continue;
    rank = rank.value_or(0);
    GsReader dims(field.payload);
    GsField dim;
    while (dims.next(dim)) *rank += gsIsMessage(dim, onnx::kShapeDim) ? 1u : 0u;
  }
  return rank;
}

// Names the graph states a rank other than 2 for, in an input, output, value_info or initializer.
std::unordered_set<std::string_view> nonMatrixNames(const GsGraphIndex& graph) {
  std::unordered_set<std::string_view> names;
  for (GsSlice value : graph.declaredValues()) {
    const std::optional<size_t> rank = declaredRank(value);
    if (rank && *rank != 2) names.insert(gsLastText(value, onnx::kValueInfoName));
  }
  std::vector<int64_t> dims;
  for (GsSlice tensor : graph.initializers()) {
    hcTensorDims(tensor, dims);
    if (dims.size() != 2) names.insert(gsLastText(tensor, onnx::kTensorName));
  }
  return names;
}

bool convertible(GsSlice node, const std::unordered_set<std::string_view>& nonMatrix) {
  if (!gsIsStudentBlendMatMul(node)) return false;
  const GsNodeView view = gsViewNode(node);
  for (const auto* names : {&view.inputs, &view.outputs}) {
    for (std::string_view name : *names) {
      if (nonMatrix.contains(name)) return false;
    }
  }
  return true;
}

bool importsOldDefaultOpset(GsSlice model) {
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kModelOpsetImport) &&
        isDefaultDomain(gsLastText(field.payload, onnx::kOpsetDomain)) &&
        gsLastVarint(field.payload, onnx::kOpsetVersion) < kFirstOpsetWithOptionalC)
      return true;
  }
  return false;
}

template <class Test>
size_t countNodes(GsSlice model, Test&& test) {
  size_t count = 0;
  gsForEachNode(model, [&](GsSlice node) { count += test(node) ? 1 : 0; });
  return count;
}

}  // namespace

bool gsIsStudentBlendMatMul(GsSlice node) {
  const GsNodeView view = gsViewNode(node);
  return view.opType == "MatMul" && view.name == "/s2/blend" && view.inputs.size() == 2 &&
         isDefaultDomain(view.domain);
}

size_t normaliseStudentBlend(std::vector<uint8_t>& model) {
  const GsSlice original = gsSliceOf(model);
  // Most models hold no blend; their value infos need no reading.
  if (countNodes(original, gsIsStudentBlendMatMul) == 0 || importsOldDefaultOpset(original)) return 0;
  const std::unordered_set<std::string_view> nonMatrix = nonMatrixNames(GsGraphIndex::ofModel(original));
  const auto picked = [&nonMatrix](GsSlice node) { return convertible(node, nonMatrix); };
  const size_t count = countNodes(original, picked);
  if (count == 0) return 0;
  // Built aside and swapped in only when complete, so a failure leaves the caller's bytes as they were.
  std::vector<uint8_t> rebuilt = gsRetypeNodes(original, picked, kToGemm, count);
  model.swap(rebuilt);
  return count;
}

}  // namespace ko
