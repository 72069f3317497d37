#include "graph/source_cone.h"

#include <unordered_map>

#include "graph/onnx_schema.h"
#include "graph/rebuild.h"

namespace ko {
namespace {

const std::string kPrgb = "P_rgb";
const std::string kConcat = "Concat";
const std::string kConstant = "Constant";
constexpr size_t kBoundaryRank = 4;

bool reads(const GsNodeInfo& node, const std::string& name) {
  for (const std::string& input : node.inputs) {
    if (input == name) return true;
  }
  return false;
}

std::unordered_map<std::string, size_t> producers(const std::vector<GsNodeInfo>& nodes) {
  std::unordered_map<std::string, size_t> producerOf;
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (const std::string& output : nodes[i].outputs) {
      if (!output.empty()) producerOf.emplace(output, i);
    }
  }
  return producerOf;
}

// Walks back from the boundary; false with `reason` at the first value the cone cannot produce itself.
bool markCone(const std::vector<GsNodeInfo>& nodes, const std::unordered_set<std::string>& initializerNames,
              const std::unordered_set<std::string>& inputNames, const std::string& boundary,
              std::vector<uint8_t>& inCone, std::string& reason) {
  const std::unordered_map<std::string, size_t> producerOf = producers(nodes);
  std::unordered_set<std::string> seen;
  std::vector<std::string> work{boundary};
  while (!work.empty()) {
    const std::string value = std::move(work.back());
    work.pop_back();
    // An empty name is an optional input left out, not a value.
    if (value.empty() || value == kPrgb || initializerNames.count(value) != 0) continue;
    if (!seen.insert(value).second) continue;
    const auto producer = producerOf.find(value);
    if (producer == producerOf.end()) {
      reason = inputNames.count(value) != 0 ? "cone reads graph input '" + value + "'"
                                            : "cone leaf '" + value + "' has no producer";
      return false;
    }
    const GsNodeInfo& node = nodes[producer->second];
    inCone[producer->second] = 1;
    if (node.opType == kConstant) continue;
    work.insert(work.end(), node.inputs.begin(), node.inputs.end());
  }
  return true;
}

// Only the boundary may leave the cone; anything else read outside would vanish from the per-frame
// model.
bool coneIsClosed(const std::vector<GsNodeInfo>& nodes, const std::vector<uint8_t>& inCone,
                  const std::string& boundary, std::string& reason) {
  std::unordered_set<std::string> coneValues;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (inCone[i] != 0) coneValues.insert(nodes[i].outputs.begin(), nodes[i].outputs.end());
  }
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (inCone[i] != 0) continue;
    for (const std::string& input : nodes[i].inputs) {
      if (input == kPrgb) {
        reason = "P_rgb is also read outside the cone by " + nodes[i].opType;
        return false;
      }
      if (input != boundary && !input.empty() && coneValues.count(input) != 0) {
        reason = "cone value '" + input + "' escapes to " + nodes[i].opType;
        return false;
      }
    }
  }
  return true;
}

size_t countMarked(const std::vector<uint8_t>& flags) {
  size_t count = 0;
  for (uint8_t flag : flags) count += flag != 0 ? 1 : 0;
  return count;
}

struct ConeOfModel {
  std::vector<uint8_t> inCone;
  std::vector<GsNodeInfo> nodes;
  size_t size = 0;
};

// The checks both halves of the split share: a graph, a "P_rgb" input, a self-contained cone.
bool readCone(const std::vector<uint8_t>& model, const std::string& boundary, ConeOfModel& cone,
              std::string& reason) {
  reason.clear();
  const GsSlice graph = gsGraphOf(gsSliceOf(model));
  if (graph.empty()) {
    reason = "no graph";
    return false;
  }
  std::unordered_set<std::string> initializerNames;
  std::unordered_set<std::string> inputNames;
  gsReadGraph(graph, cone.nodes, initializerNames, inputNames);
  if (inputNames.count(kPrgb) == 0) {
    reason = "no P_rgb input";
    return false;
  }
  cone.size = gsSourceCone(cone.nodes, initializerNames, inputNames, boundary, cone.inCone, reason);
  return cone.size != 0;
}

}  // namespace

size_t findSourceConeBoundary(const std::vector<uint8_t>& model, std::string& boundary) {
  boundary.clear();
  std::vector<GsNodeInfo> nodes;
  std::unordered_set<std::string> initializerNames;
  std::unordered_set<std::string> inputNames;
  gsReadGraph(gsGraphOf(gsSliceOf(model)), nodes, initializerNames, inputNames);
  size_t count = 0;
  for (const GsNodeInfo& node : nodes) {
    if (node.opType != kConcat || !reads(node, kPrgb)) continue;
    if (count++ == 0 && !node.outputs.empty()) boundary = node.outputs.front();
  }
  return count;
}

size_t gsSourceCone(const std::vector<GsNodeInfo>& nodes,
                    const std::unordered_set<std::string>& initializerNames,
                    const std::unordered_set<std::string>& inputNames, const std::string& boundary,
                    std::vector<uint8_t>& inCone, std::string& reason) {
  reason.clear();
  inCone.assign(nodes.size(), 0);
  if (!markCone(nodes, initializerNames, inputNames, boundary, inCone, reason) ||
      !coneIsClosed(nodes, inCone, boundary, reason)) {
    inCone.assign(nodes.size(), 0);
    return 0;
  }
  const size_t size = countMarked(inCone);
  if (size == 0) reason = "empty cone";
  return size;
}

size_t buildSourceConePrep(const std::vector<uint8_t>& model, const std::string& boundary,
                           std::vector<uint8_t>& prep, std::string& reason) {
  ConeOfModel cone;
  if (!readCone(model, boundary, cone, reason)) return 0;
  // Constants outside the cone cost nothing and keeping them keeps the rule simple.
  std::vector<uint8_t> drops(cone.nodes.size(), 0);
  for (size_t i = 0; i < cone.nodes.size(); ++i)
    drops[i] = cone.inCone[i] == 0 && cone.nodes[i].opType != kConstant ? 1 : 0;
  GsGraphEdit edit;
  edit.nodeDrops = &drops;
  edit.keepOnlyPrgbInput = true;
  edit.dropOutputs = true;
  edit.addName = &boundary;
  edit.addRank = kBoundaryRank;
  edit.addField = onnx::kGraphOutput;
  gsRebuild(gsSliceOf(model), edit, prep);
  return cone.size;
}

size_t buildSourceConePerFrame(const std::vector<uint8_t>& model, const std::string& boundary,
                               const int64_t* dims, size_t rank, std::vector<uint8_t>& perFrame,
                               std::string& reason) {
  ConeOfModel cone;
  if (!readCone(model, boundary, cone, reason)) return 0;
  GsGraphEdit edit;
  edit.nodeDrops = &cone.inCone;
  edit.dropPrgbInput = true;
  edit.addName = &boundary;
  edit.addDims = dims;
  edit.addRank = rank;
  edit.addField = onnx::kGraphInput;
  gsRebuild(gsSliceOf(model), edit, perFrame);
  return cone.size;
}

}  // namespace ko
