#include "tools/authoring/compose_v2_structure.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "graph/compose_v2_splice.h"
#include "graph/lip_bind.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_write.h"
#include "graph/sha256.h"

namespace ko::authoring {
namespace {

// Copies every field `number` of `message` with the given wire type, in order.
void putFields(std::vector<uint8_t>& out, GsSlice message, uint32_t number, uint8_t wireType) {
  GsReader reader(message);
  GsField field;
  while (reader.next(field)) {
    if (field.number == number && field.wireType == wireType) gsPutRaw(out, field.raw.data, field.raw.size);
  }
}

void putPlaceholder(std::vector<uint8_t>& graph, const GsNodeInfo& node, size_t index) {
  std::vector<uint8_t> body;
  for (const std::string& output : node.outputs) gsPutString(body, onnx::kNodeOutput, output);
  gsPutString(body, onnx::kNodeName, "member_" + std::to_string(index));
  gsPutString(body, onnx::kNodeOpType, kCv2MemberOpType);
  hcAttrI(body, "k", static_cast<int64_t>(index));
  gsPutString(body, onnx::kNodeDomain, kCv2MemberDomain);
  gsPutMessage(graph, onnx::kGraphNode, body);
}

bool readsAlpha(const GsNodeInfo& node, const ComposeAlpha& alpha) {
  return std::find(node.inputs.begin(), node.inputs.end(), alpha.name) != node.inputs.end();
}

std::vector<uint8_t> structureGraph(GsSlice member, const ComposeAlpha& alpha) {
  const GsSlice memberGraph = gsGraphOf(member);
  std::vector<GsNodeInfo> nodes;
  std::unordered_set<std::string> initializers;
  std::unordered_set<std::string> inputs;
  gsReadGraph(memberGraph, nodes, initializers, inputs);
  std::vector<uint8_t> graph;
  for (size_t index = 0; index < nodes.size(); ++index) {
    if (readsAlpha(nodes[index], alpha)) {
      gsPutNodeRewired(graph, hcPayload(nodes[index].raw), alpha.name, kLipShrunkName);
    } else {
      putPlaceholder(graph, nodes[index], index);
    }
    if (index == alpha.producer)
      hcNode(graph, "Min", {alpha.name, kLipInputName}, kLipShrunkName, kLipMinName, {});
  }
  putFields(graph, memberGraph, onnx::kGraphInput, kGsLengthDelimited);
  const int64_t dims[4] = {alpha.batch, 1, alpha.side, alpha.side};
  gsPutTensorValueInfo(graph, onnx::kGraphInput, kLipInputName, dims, 4);
  putFields(graph, memberGraph, onnx::kGraphOutput, kGsLengthDelimited);
  return graph;
}

}  // namespace

std::vector<uint8_t> composeV2Structure(const std::vector<uint8_t>& member) {
  ComposeAlpha alpha;
  std::string reason;
  if (!findComposeAlpha(gsSliceOf(member), alpha, reason))
    throw std::invalid_argument("compose v2 structure: the member has no compose alpha to bind: " + reason);
  std::vector<uint8_t> model;
  putFields(model, gsSliceOf(member), onnx::kModelIrVersion, kGsVarint);
  gsPutMessage(model, onnx::kModelGraph, structureGraph(gsSliceOf(member), alpha));
  putFields(model, gsSliceOf(member), onnx::kModelOpsetImport, kGsLengthDelimited);
  std::vector<uint8_t> source;
  gsPutString(source, onnx::kEntryKey, kCv2SourceKey);
  gsPutString(source, onnx::kEntryValue, sha256Hex(member.data(), member.size()));
  gsPutMessage(model, onnx::kModelMetadataProps, source);
  return model;
}

ComposeV2Graph composeV2Entry(const std::vector<uint8_t>& member, const std::string& graphKey) {
  const std::vector<uint8_t> structure = composeV2Structure(member);
  return {.graphKey = graphKey,
          .structureBase64 = base64Encode(structure),
          .sourceSha256 = sha256Hex(member.data(), member.size()),
          .structureSha256 = sha256Hex(structure.data(), structure.size())};
}

}  // namespace ko::authoring
