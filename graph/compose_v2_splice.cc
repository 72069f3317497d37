#include "graph/compose_v2_splice.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "graph/lip_bind.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"
#include "graph/sha256.h"

namespace ko {
namespace {

constexpr size_t kDigestShown = 12;
constexpr size_t kMissingShown = 3;
constexpr size_t kGrowthReserve = 256;

using Names = std::unordered_set<std::string>;

std::string shown(const std::string& digest) {
  return digest.substr(0, kDigestShown);
}

// The codec's decoding errors are the only exceptions a malformed model may raise.
bool isCodecError(const std::runtime_error& error) {
  return std::string_view(error.what()).starts_with("onnx: ");
}

// An integer attribute named "k": its value, else nothing.
std::optional<int64_t> kOf(GsSlice attribute) {
  if (gsLastText(attribute, onnx::kAttrName) != "k") return std::nullopt;
  const std::optional<uint64_t> value = gsFindLastVarint(attribute, onnx::kAttrI);
  if (!value) return std::nullopt;
  return static_cast<int64_t>(*value);
}

struct StructureTop {
  size_t graphCount = 0;
  GsSlice graph;
  std::optional<std::string> source;
};

StructureTop readStructureTop(GsSlice structure) {
  StructureTop top;
  GsReader reader(structure);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kModelGraph)) {
      ++top.graphCount;
      top.graph = field.payload;
    } else if (gsIsMessage(field, onnx::kModelMetadataProps) &&
               gsLastText(field.payload, onnx::kEntryKey) == kCv2SourceKey) {
      top.source = std::string(gsLastText(field.payload, onnx::kEntryValue));
    }
  }
  return top;
}

struct Member {
  std::vector<GsNodeInfo> nodes;
  std::vector<std::pair<std::string, GsSlice>> initializers;  // name, whole field
};

Member readMember(GsSlice graph) {
  Member member;
  Names initializerNames;
  Names inputNames;
  gsReadGraph(graph, member.nodes, initializerNames, inputNames);
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kGraphInitializer))
      member.initializers.emplace_back(gsFirstStr(field.payload, onnx::kTensorName), field.raw);
  }
  return member;
}

// What one pass over the structure graph learns: the bytes each node field becomes, the name sets and
// where carried initializers can go.
struct StructureWalk {
  std::vector<GsSlice> emitted;
  Names read;
  Names produced;
  Names initializers;
  Names inputs;
  std::optional<size_t> pastLastInitializer;
  std::optional<size_t> firstLateField;
};

bool namesMemberNode(const Cv2Node& placeholder, const Member& member) {
  return placeholder.k >= 0 && static_cast<uint64_t>(placeholder.k) < member.nodes.size() &&
         placeholder.outputs == member.nodes[static_cast<size_t>(placeholder.k)].outputs;
}

void addAll(Names& names, const std::vector<std::string>& values) {
  names.insert(values.begin(), values.end());
}

// Records the bytes a node field becomes; a refusal's reason, or empty.
std::string emitNode(const GsField& field, const Member& member, StructureWalk& walk) {
  const Cv2Node node = cv2ReadNode(field.raw);
  if (!node.placeholder) {
    walk.emitted.push_back(node.raw);
    addAll(walk.read, node.inputs);
    addAll(walk.produced, node.outputs);
    return {};
  }
  if (!node.hasK) return "compose v2 splice: a MemberNode placeholder carries no `k`";
  if (!namesMemberNode(node, member)) {
    const std::string k = std::to_string(node.k);
    return "compose v2 splice: placeholder " + k + " does not name member node " + k;
  }
  const GsNodeInfo& spliced = member.nodes[static_cast<size_t>(node.k)];
  walk.emitted.push_back(spliced.raw);
  addAll(walk.read, spliced.inputs);
  addAll(walk.produced, spliced.outputs);
  return {};
}

std::string walkStructure(GsSlice graph, const Member& member, StructureWalk& walk) {
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    const size_t start = static_cast<size_t>(field.raw.data - graph.data);
    if (gsIsMessage(field, onnx::kGraphNode)) {
      std::string fault = emitNode(field, member, walk);
      if (!fault.empty()) return fault;
    } else if (gsIsMessage(field, onnx::kGraphInitializer)) {
      walk.initializers.insert(gsFirstStr(field.payload, onnx::kTensorName));
      walk.pastLastInitializer = start + field.raw.size;
    } else if (gsIsMessage(field, onnx::kGraphInput)) {
      walk.inputs.insert(gsFirstStr(field.payload, onnx::kValueInfoName));
    }
    if (field.number > onnx::kGraphInitializer && !walk.firstLateField) walk.firstLateField = start;
  }
  return {};
}

// The member initializers the spliced graph reads and the structure does not carry, in member order.
std::vector<GsSlice> carriedInitializers(const Member& member, const StructureWalk& walk, Names& carried) {
  carried = walk.initializers;
  std::vector<GsSlice> fields;
  for (const auto& [name, raw] : member.initializers) {
    if (walk.read.contains(name) && !walk.initializers.contains(name)) {
      fields.push_back(raw);
      carried.insert(name);
    }
  }
  return fields;
}

std::string missingFault(const StructureWalk& walk, const Names& carried) {
  std::vector<std::string> missing;
  for (const std::string& name : walk.read) {
    if (!name.empty() && !carried.contains(name) && !walk.inputs.contains(name) &&
        !walk.produced.contains(name))
      missing.push_back(name);
  }
  if (missing.empty()) return {};
  std::sort(missing.begin(), missing.end());
  std::string listed;
  for (size_t index = 0; index < std::min(missing.size(), kMissingShown); ++index) {
    listed += (index == 0 ? "'" : ", '") + missing[index] + "'";
  }
  return "compose v2 splice: " + listed + " are read but neither member nor structure carries them";
}

void putAll(std::vector<uint8_t>& out, const std::vector<GsSlice>& fields) {
  for (GsSlice field : fields) gsPutRaw(out, field.data, field.size);
}

std::vector<uint8_t> splicedGraph(GsSlice graph, const StructureWalk& walk,
                                  const std::vector<GsSlice>& carried) {
  const size_t insertAt = walk.pastLastInitializer.value_or(walk.firstLateField.value_or(graph.size));
  std::vector<uint8_t> body;
  body.reserve(graph.size + kGrowthReserve);
  bool inserted = false;
  size_t node = 0;
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (!inserted && static_cast<size_t>(field.raw.data - graph.data) >= insertAt) {
      putAll(body, carried);
      inserted = true;
    }
    const GsSlice bytes = gsIsMessage(field, onnx::kGraphNode) ? walk.emitted[node++] : field.raw;
    gsPutRaw(body, bytes.data, bytes.size);
  }
  if (!inserted) putAll(body, carried);
  return body;
}

std::vector<uint8_t> splicedModel(GsSlice structure, const std::vector<uint8_t>& graphBody) {
  std::vector<uint8_t> model;
  model.reserve(structure.size + graphBody.size());
  GsReader reader(structure);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kModelGraph)) {
      gsPutBytes(model, onnx::kModelGraph, graphBody.data(), graphBody.size());
    } else {
      gsPutRaw(model, field.raw.data, field.raw.size);
    }
  }
  return model;
}

// Outs carry 32-bit sizes; a dim without a usable value reads as 0.
int32_t outDim(int64_t dim) {
  return dim > 0 && dim <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(dim) : 0;
}

std::string selfCheckFault(GsSlice model, size_t expectedNodes, const Names& structureInputs) {
  const GsSlice graph = gsGraphOf(model);
  size_t count = 0;
  size_t left = 0;
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (!gsIsMessage(field, onnx::kGraphNode)) continue;
    ++count;
    if (cv2ReadNode(field.raw).placeholder) ++left;
  }
  if (left != 0 || count != expectedNodes) {
    return "compose v2 splice self-check: " + std::to_string(count) + " nodes (" +
           std::to_string(expectedNodes) + " expected), " + std::to_string(left) + " placeholder(s) left";
  }
  int64_t first = 0, last = 0, rank = 0;
  ldInputDims(graph, kLipInputName, first, last, rank);
  if (!structureInputs.contains(kLipInputName) || rank != 4) {
    return std::string("compose v2 splice self-check: the spliced graph declares no rank-4 ") +
           kLipInputName + " input — not a compose v2 graph";
  }
  return {};
}

struct Splice {
  std::vector<uint8_t> model;
  int32_t canvas = 0;
  int32_t batch = 0;
};

// Steps past the digests: a refusal's reason, or empty with `out` filled.
std::string splice(const std::vector<uint8_t>& member, GsSlice structure, GsSlice structureGraph,
                   Splice& out) {
  const GsSlice memberGraph = gsGraphOf(gsSliceOf(member));
  if (memberGraph.empty()) return "compose v2 splice: the member carries no graph";
  const Member memberParts = readMember(memberGraph);
  StructureWalk walk;
  std::string fault = walkStructure(structureGraph, memberParts, walk);
  if (!fault.empty()) return fault;
  Names carriedNames;
  const std::vector<GsSlice> carried = carriedInitializers(memberParts, walk, carriedNames);
  fault = missingFault(walk, carriedNames);
  if (!fault.empty()) return fault;
  out.model = splicedModel(structure, splicedGraph(structureGraph, walk, carried));
  fault = selfCheckFault(gsSliceOf(out.model), walk.emitted.size(), walk.inputs);
  if (!fault.empty()) return fault;
  int64_t first = 0, last = 0, rank = 0;
  ldInputDims(gsGraphOf(gsSliceOf(out.model)), kLipInputName, first, last, rank);
  out.canvas = outDim(last);
  out.batch = outDim(first);
  return {};
}

std::string refusal(const std::vector<uint8_t>& member, const std::vector<uint8_t>& structure,
                    const std::string& expectedSource, const std::string& expectedStructure, Splice& out) {
  if (!expectedStructure.empty()) {
    const std::string computed = sha256Hex(structure.data(), structure.size());
    if (computed != expectedStructure) {
      return "compose v2 structure bytes hash to " + shown(computed) + ", not the " +
             shown(expectedStructure) + " the template names — refusing a structure whose own bytes moved";
    }
  }
  const StructureTop top = readStructureTop(gsSliceOf(structure));
  if (top.graphCount != 1) {
    return "compose v2 splice: the structure carries " + std::to_string(top.graphCount) +
           " graph fields (one expected)";
  }
  if (!top.source)
    return std::string("compose v2 splice: the structure names no source member (") + kCv2SourceKey + ")";
  if (!expectedSource.empty() && expectedSource != *top.source) {
    return "compose v2 splice: the template says the structure is for member " + shown(expectedSource) +
           " and the structure itself says " + shown(*top.source) +
           " — refusing a structure whose two bindings disagree";
  }
  const std::string computed = sha256Hex(member.data(), member.size());
  if (computed != *top.source) {
    return "compose v2 structure was built for member " + shown(*top.source) + ", not " + shown(computed) +
           " — refusing to splice a stale structure";
  }
  return splice(member, gsSliceOf(structure), top.graph, out);
}

}  // namespace

Cv2Node cv2ReadNode(GsSlice raw) {
  Cv2Node node;
  node.raw = raw;
  const GsNodeView view = gsViewNode(hcPayload(raw));
  node.placeholder = view.opType == kCv2MemberOpType && view.domain == kCv2MemberDomain;
  for (std::string_view input : view.inputs) node.inputs.emplace_back(input);
  for (std::string_view output : view.outputs) node.outputs.emplace_back(output);
  for (GsSlice attribute : view.attributes) {
    if (const std::optional<int64_t> k = kOf(attribute)) {
      node.hasK = true;
      node.k = *k;
    }
  }
  return node;
}

bool spliceComposeV2(std::vector<uint8_t>& member, const std::vector<uint8_t>& structure, std::string& reason,
                     const std::string& expectedSourceSha256, int32_t* canvas, int32_t* batch,
                     const std::string& expectedStructureSha256) {
  reason.clear();
  if (canvas != nullptr) *canvas = 0;
  if (batch != nullptr) *batch = 0;
  Splice out;
  try {
    reason = refusal(member, structure, expectedSourceSha256, expectedStructureSha256, out);
  } catch (const std::runtime_error& error) {
    if (!isCodecError(error)) throw;
    reason = std::string("compose v2 splice: unreadable protobuf (") + error.what() + ")";
  }
  if (!reason.empty()) return false;
  member.swap(out.model);
  if (canvas != nullptr) *canvas = out.canvas;
  if (batch != nullptr) *batch = out.batch;
  return true;
}

}  // namespace ko
