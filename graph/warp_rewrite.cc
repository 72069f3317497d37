#include "graph/warp_rewrite.h"

#include <algorithm>
#include <optional>
#include <set>
#include <unordered_set>

#include "graph/gridsample_rewrite.h"
#include "graph/node_retype.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"
#include "graph/rebuild.h"
#include "graph/source_cone.h"

namespace ko {
namespace {

const std::string kPrgb = "P_rgb";
const std::string kDirectorName = "ko_warp_director";
const std::string kDirectorOpType = "WarpDirector";
const std::string kDirectorDomain = "com.quandrel";

size_t graphFieldCount(GsSlice model) {
  size_t count = 0;
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) count += gsIsMessage(field, onnx::kModelGraph) ? 1 : 0;
  return count;
}

struct GraphView {
  std::vector<GsNodeInfo> nodes;
  std::unordered_set<std::string> initializers;
  std::unordered_set<std::string> inputs;
  std::unordered_set<std::string> outputs;
};

GraphView readGraph(GsSlice graph) {
  GraphView view;
  gsReadGraph(graph, view.nodes, view.initializers, view.inputs);
  GsReader reader(graph);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kGraphOutput))
      view.outputs.insert(gsFirstStr(field.payload, onnx::kValueInfoName));
  }
  return view;
}

bool reads(const GsNodeInfo& node, const std::string& name) {
  return std::find(node.inputs.begin(), node.inputs.end(), name) != node.inputs.end();
}

bool isRecombination(const std::string& opType) {
  return opType == "Mul" || opType == "Sub" || opType == "Add";
}

// The fused node, its Slices, then every Mul/Sub/Add reading what is marked so far, until nothing
// changes. `values` receives every tensor the marked nodes write.
std::vector<uint8_t> markBlock(const std::vector<GsNodeInfo>& nodes, size_t fused,
                               std::unordered_set<std::string>& values) {
  std::vector<uint8_t> marks(nodes.size());
  const std::string& sampled = nodes[fused].outputs[0];
  marks[fused] = 1;
  values = {sampled};
  const auto mark = [&](size_t i) {
    marks[i] = 1;
    values.insert(nodes[i].outputs.begin(), nodes[i].outputs.end());
  };
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!marks[i] && nodes[i].opType == "Slice" && reads(nodes[i], sampled)) mark(i);
  }
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (marks[i] || !isRecombination(nodes[i].opType)) continue;
      if (std::none_of(nodes[i].inputs.begin(), nodes[i].inputs.end(),
                       [&](const std::string& input) { return values.contains(input); }))
        continue;
      mark(i);
      changed = true;
    }
  }
  return marks;
}

// What the rewrite needs beyond the WarpBlock: the graph as read, the fused node's index and the marks.
struct BlockSurvey {
  GraphView view;
  WarpBlock block;
  size_t fused = 0;
  std::vector<uint8_t> marks;
};

std::optional<size_t> soleFusedNode(const std::vector<GsNodeInfo>& nodes, const std::string& tip,
                                    std::string& reason) {
  std::optional<size_t> fused;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const GsNodeInfo& node = nodes[i];
    if (node.opType != "GridSample" && node.opType != "GridSampleFast") continue;
    if (node.inputs.size() < 2 || node.inputs[0] != tip) continue;
    if (fused) {
      reason = "two GridSamples on the cone's tip";
      return std::nullopt;
    }
    fused = i;
  }
  if (!fused) reason = "no GridSample consuming '" + tip + "'";
  return fused;
}

std::set<std::string> exitsOf(const BlockSurvey& s, const std::unordered_set<std::string>& values) {
  const std::string& sampled = s.view.nodes[s.fused].outputs[0];
  std::set<std::string> exits;
  for (size_t i = 0; i < s.view.nodes.size(); ++i) {
    if (s.marks[i]) continue;
    for (const std::string& input : s.view.nodes[i].inputs) {
      if (input != sampled && values.contains(input)) exits.insert(input);
    }
  }
  for (const std::string& value : values) {
    if (s.view.outputs.contains(value)) exits.insert(value);
  }
  return exits;
}

// A value the rewrite stops producing must have no reader left: the tip feeds only the fused node,
// and the sampled tensor only the block.
std::string strandedReader(const BlockSurvey& s) {
  const std::string& sampled = s.view.nodes[s.fused].outputs[0];
  for (size_t i = 0; i < s.view.nodes.size(); ++i) {
    const GsNodeInfo& node = s.view.nodes[i];
    if (i != s.fused && reads(node, s.block.tip)) {
      return "the cone's tip '" + s.block.tip + "' is also read by " + node.opType;
    }
    if (!s.marks[i] && reads(node, sampled)) {
      return "the fused GridSample's output '" + sampled + "' is also read by " + node.opType;
    }
  }
  if (s.view.outputs.contains(s.block.tip)) return "the cone's tip '" + s.block.tip + "' is a graph output";
  if (s.view.outputs.contains(sampled))
    return "the fused GridSample's output '" + sampled + "' is a graph output";
  return {};
}

bool hasProducer(const std::vector<GsNodeInfo>& nodes, const std::string& value) {
  return std::any_of(nodes.begin(), nodes.end(), [&](const GsNodeInfo& node) {
    return std::find(node.outputs.begin(), node.outputs.end(), value) != node.outputs.end();
  });
}

// Fills `s` and returns an empty string, or returns the reason the graph has no rewritable block.
std::string surveyBlock(const std::vector<uint8_t>& model, BlockSurvey& s) {
  const GsSlice bytes = gsSliceOf(model);
  const size_t graphs = graphFieldCount(bytes);
  if (graphs == 0) return "no graph";
  // Readers merge repeated graph fields; one graph keeps every reader of this rewrite on the same nodes.
  if (graphs > 1) return "the graph is split over " + std::to_string(graphs) + " fields";
  std::string tip;
  if (findSourceConeBoundary(model, tip) != 1 || tip.empty()) return "not one Concat consuming " + kPrgb;
  s.view = readGraph(gsGraphOf(bytes));
  std::string reason;
  const std::optional<size_t> fused = soleFusedNode(s.view.nodes, tip, reason);
  if (!fused) return reason;
  const GsNodeInfo& node = s.view.nodes[*fused];
  if (node.opType == "GridSample" && !gsIsRewritableGridSample(hcPayload(node.raw))) {
    return "the fused GridSample is not bilinear/border/align_corners=0";
  }
  if (node.outputs.empty() || node.outputs[0].empty()) return "the fused GridSample has no output";
  s.fused = *fused;
  std::unordered_set<std::string> values;
  s.marks = markBlock(s.view.nodes, s.fused, values);
  const std::set<std::string> exits = exitsOf(s, values);
  if (exits.size() != 1) return "the recombination has " + std::to_string(exits.size()) + " exits, not 1";
  if (!hasProducer(s.view.nodes, node.inputs[1])) return "the grid has no producer";
  s.block = {tip, node.inputs[1], *exits.begin(),
             static_cast<int64_t>(std::count(s.marks.begin(), s.marks.end(), uint8_t{1}))};
  return strandedReader(s);
}

std::vector<uint8_t> directorNode(const WarpBlock& block) {
  std::vector<uint8_t> node;
  gsPutString(node, onnx::kNodeInput, kPrgb);
  gsPutString(node, onnx::kNodeInput, block.grid);
  gsPutString(node, onnx::kNodeOutput, block.exit);
  gsPutString(node, onnx::kNodeName, kDirectorName);
  gsPutString(node, onnx::kNodeOpType, kDirectorOpType);
  gsPutString(node, onnx::kNodeDomain, kDirectorDomain);
  return node;
}

std::vector<uint8_t> graphWithNodeAt(GsSlice graph, size_t position, const std::vector<uint8_t>& node) {
  size_t seen = 0;
  bool placed = false;
  const auto putBeforePosition = [&](std::vector<uint8_t>& out, GsSlice) {
    if (seen++ == position) {
      gsPutMessage(out, onnx::kGraphNode, node);
      placed = true;
    }
    return false;
  };
  std::vector<uint8_t> body = gsWithNodesRewritten(graph, graph.size + node.size() + 8, putBeforePosition);
  if (!placed) gsPutMessage(body, onnx::kGraphNode, node);
  return body;
}

// `model` with `node` inserted before its graph's node number `position` (after the last when there
// are no more).
std::vector<uint8_t> modelWithNodeAt(GsSlice model, size_t position, const std::vector<uint8_t>& node) {
  return gsWithGraphsRewritten(model, model.size + node.size() + 16,
                               [&](GsSlice graph) { return graphWithNodeAt(graph, position, node); });
}

// The new node must stand where the fused GridSample stood among the nodes that remain.
bool directorWhereExpected(const std::vector<uint8_t>& model, size_t position, size_t nodeCount) {
  const GraphView view = readGraph(gsGraphOf(gsSliceOf(model)));
  if (view.nodes.size() != nodeCount || position >= nodeCount) return false;
  const GsNodeInfo& node = view.nodes[position];
  return node.opType == kDirectorOpType && gsFirstStr(hcPayload(node.raw), onnx::kNodeName) == kDirectorName;
}

}  // namespace

size_t findWarpBlock(const std::vector<uint8_t>& model, WarpBlock* block, std::string& reason) {
  reason.clear();
  if (block == nullptr) {
    reason = "no out param";
    return 0;
  }
  *block = {};
  BlockSurvey survey;
  reason = surveyBlock(model, survey);
  if (!reason.empty()) return 0;
  *block = survey.block;
  return static_cast<size_t>(block->nodes);
}

size_t rewriteWarpBlockToCustomOp(std::vector<uint8_t>& model, std::string& reason) {
  reason.clear();
  BlockSurvey s;
  reason = surveyBlock(model, s);
  if (!reason.empty()) return 0;
  std::vector<uint8_t> drops;
  if (gsSourceCone(s.view.nodes, s.view.initializers, s.view.inputs, s.block.tip, drops, reason) == 0)
    return 0;
  drops.resize(s.view.nodes.size());
  for (size_t i = 0; i < drops.size(); ++i) drops[i] = drops[i] != 0 || s.marks[i] != 0 ? 1 : 0;
  const auto removed = static_cast<size_t>(std::count(drops.begin(), drops.end(), uint8_t{1}));
  const auto position = static_cast<size_t>(
      std::count(drops.begin(), drops.begin() + static_cast<std::ptrdiff_t>(s.fused), uint8_t{0}));
  GsGraphEdit edit;
  edit.nodeDrops = &drops;
  std::vector<uint8_t> pruned;
  gsRebuild(gsSliceOf(model), edit, pruned);
  std::vector<uint8_t> rewritten = modelWithNodeAt(gsSliceOf(pruned), position, directorNode(s.block));
  if (!gsImportsQuandrelDomain(gsSliceOf(rewritten))) gsPutQuandrelImport(rewritten);
  if (!directorWhereExpected(rewritten, position, s.view.nodes.size() - removed + 1)) {
    reason = "the GridSample moved between passes";
    return 0;
  }
  model.swap(rewritten);
  return removed;
}

}  // namespace ko
