#include "graph/lip_bind.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

#include "graph/graph_index.h"
#include "graph/node_retype.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_write.h"
#include "graph/rebuild.h"

namespace ko {
namespace {

// Exporters put Identity and Cast steps between the blend and the graph output; a few are walked.
constexpr size_t kMaxPassThroughSteps = 4;
// The tail sits right before the output: a short search keeps huge graphs cheap to refuse.
constexpr size_t kMaxVisited = 64;
constexpr size_t kGrowthReserve = 256;

// A side or batch the outs can carry.
bool usableDim(int64_t dim) {
  return dim > 0 && dim <= std::numeric_limits<int32_t>::max();
}

bool holdsOnlyOne(GsSlice tensor) {
  std::vector<float> values;
  return hcTensorFloats(tensor, values) && values.size() == 1 && values[0] == 1.0f;
}

bool isConstantOne(const GsGraphIndex& graph, std::string_view name) {
  if (holdsOnlyOne(graph.soleInitializer(name))) return true;
  const std::optional<size_t> constant = graph.producerOf(name, "Constant");
  return constant && holdsOnlyOne(hcConstValue(graph.node(*constant).payload));
}

// The node the search starts from: the first output's producer, behind at most a few pass-through
// steps.
std::optional<size_t> tailEnd(const GsGraphIndex& graph, GsSlice graphBytes) {
  const std::string output = gsFirstStr(gsFirstMsg(graphBytes, onnx::kGraphOutput), onnx::kValueInfoName);
  std::optional<size_t> node = graph.producerOf(output);
  for (size_t step = 0; node && step < kMaxPassThroughSteps; ++step) {
    const GsNodeView& current = graph.node(*node);
    if (current.opType != "Identity" && current.opType != "Cast") break;
    node = current.inputs.empty() ? std::nullopt : graph.producerOf(current.inputs.front());
  }
  return node;
}

// The Add nodes near the end, depth first over producers, in visiting order.
std::vector<size_t> addsNear(const GsGraphIndex& graph, size_t start) {
  std::vector<size_t> adds;
  std::vector<size_t> stack{start};
  std::vector<uint8_t> seen(graph.nodes().size(), 0);
  size_t visited = 0;
  while (!stack.empty()) {
    const size_t index = stack.back();
    stack.pop_back();
    if (seen[index] != 0) continue;
    seen[index] = 1;
    const GsNodeView& node = graph.node(index);
    if (node.opType == "Add") adds.push_back(index);
    if (++visited >= kMaxVisited) continue;
    for (std::string_view input : node.inputs) {
      if (const std::optional<size_t> producer = graph.producerOf(input)) stack.push_back(*producer);
    }
  }
  return adds;
}

// The alpha when `operand` is Sub(1, alpha) with alpha produced by a Clip.
std::optional<std::string_view> alphaOfInverse(const GsGraphIndex& graph, std::string_view operand) {
  const std::optional<size_t> sub = graph.producerOf(operand, "Sub");
  if (!sub) return std::nullopt;
  const std::vector<std::string_view>& inputs = graph.node(*sub).inputs;
  if (inputs.size() != 2 || !isConstantOne(graph, inputs[0]) || !graph.producerOf(inputs[1], "Clip"))
    return std::nullopt;
  return inputs[1];
}

bool readsAlphaWithOneOther(const GsNodeView& mul, std::string_view alpha) {
  return std::count_if(mul.inputs.begin(), mul.inputs.end(),
                       [alpha](std::string_view input) { return input != alpha; }) == 1;
}

// The alpha the Add blends with, when it is the compose tail in either operand order.
std::optional<std::string_view> alphaOfBlend(const GsGraphIndex& graph, const GsNodeView& add) {
  if (add.inputs.size() != 2) return std::nullopt;
  const std::optional<size_t> first = graph.producerOf(add.inputs[0], "Mul");
  const std::optional<size_t> second = graph.producerOf(add.inputs[1], "Mul");
  if (!first || !second) return std::nullopt;
  const size_t muls[2] = {*first, *second};
  for (size_t side = 0; side < 2; ++side) {
    const GsNodeView& mul = graph.node(muls[side]);
    if (mul.inputs.size() != 2) continue;
    for (std::string_view operand : mul.inputs) {
      const std::optional<std::string_view> alpha = alphaOfInverse(graph, operand);
      if (alpha && readsAlphaWithOneOther(graph.node(muls[1 - side]), *alpha)) return alpha;
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> composeAlphaName(const GsGraphIndex& graph, GsSlice graphBytes) {
  const std::optional<size_t> end = tailEnd(graph, graphBytes);
  if (!end) return std::nullopt;
  for (size_t add : addsNear(graph, *end)) {
    if (std::optional<std::string_view> alpha = alphaOfBlend(graph, graph.node(add))) return alpha;
  }
  return std::nullopt;
}

// The square canvas: off the alpha producer's initializers, else off the warp prior "P_rgb".
int64_t canvasSide(const GsGraphIndex& graph, GsSlice graphBytes, size_t producer) {
  int64_t side = 0;
  std::vector<int64_t> dims;
  for (std::string_view input : graph.node(producer).inputs) {
    const GsSlice tensor = graph.soleInitializer(input);
    if (tensor.empty()) continue;
    hcTensorDims(tensor, dims);
    if (dims.size() >= 2 && dims[dims.size() - 1] == dims[dims.size() - 2]) side = dims.back();
  }
  if (usableDim(side)) return side;
  int64_t first = 0, last = 0, rank = 0;
  ldInputDims(graphBytes, "P_rgb", first, last, rank);
  return rank == 4 && usableDim(last) ? last : 0;
}

int64_t batchOf(GsSlice graphBytes) {
  for (const char* name : {"pooled64", "kp_driving"}) {
    int64_t first = 0, last = 0, rank = 0;
    ldInputDims(graphBytes, name, first, last, rank);
    if (usableDim(first)) return first;
  }
  return 0;
}

std::vector<uint8_t> boundModel(GsSlice model, const ComposeAlpha& alpha) {
  const std::string input = kLipInputName;
  const int64_t dims[4] = {alpha.batch, 1, alpha.side, alpha.side};
  GsGraphEdit edit;
  edit.addName = &input;
  edit.addDims = dims;
  edit.addRank = 4;
  edit.addField = onnx::kGraphInput;
  // The rebuild merges every graph field into one, the first field's nodes first, so the producer's
  // index still holds and readers in later fields are rewired too.
  std::vector<uint8_t> withInput;
  gsRebuild(model, edit, withInput);
  size_t index = 0;
  return gsWithGraphsRewritten(gsSliceOf(withInput), withInput.size() + kGrowthReserve, [&](GsSlice graph) {
    return gsWithNodesRewritten(
        graph, graph.size + kGrowthReserve, [&](std::vector<uint8_t>& body, GsSlice node) {
          gsPutNodeRewired(body, node, alpha.name, kLipShrunkName);
          // Right behind the producer, so the node list stays topologically ordered.
          if (index++ == alpha.producer)
            hcNode(body, "Min", {alpha.name, kLipInputName}, kLipShrunkName, kLipMinName, {});
          return true;
        });
  });
}

bool isLipMin(const GsNodeView& node) {
  return node.opType == "Min" && node.outputs.size() == 1 && node.outputs[0] == kLipShrunkName;
}

std::string orderFault(const GsGraphIndex& graph) {
  const std::vector<GsNodeView>& nodes = graph.nodes();
  for (size_t index = 0; index < nodes.size(); ++index) {
    for (std::string_view value : nodes[index].inputs) {
      if (value.empty() || graph.isInitializer(value) || graph.isGraphInput(value)) continue;
      const std::optional<size_t> producer = graph.producerOf(value);
      if (producer && *producer >= index) {
        return "self-check: node " + std::to_string(index) + " reads '" + std::string(value) +
               "' produced at " + std::to_string(*producer) +
               " — the rewritten graph is not topologically ordered";
      }
    }
  }
  return {};
}

// The rebuilt graph, read back as ONNX Runtime will read it.
std::string selfCheckFault(GsSlice model, const std::string& alpha) {
  const GsSlice graphBytes = gsGraphOf(model);
  const GsGraphIndex graph = GsGraphIndex::ofGraph(graphBytes);
  const std::vector<GsNodeView>& nodes = graph.nodes();
  if (std::none_of(nodes.begin(), nodes.end(), isLipMin))
    return "self-check: the Min node did not survive the rebuild";
  int64_t first = 0, last = 0, rank = 0;
  ldInputDims(graphBytes, kLipInputName, first, last, rank);
  if (rank != 4) return "self-check: the input did not survive the rebuild";
  const auto stillReadsAlpha = [&alpha](const GsNodeView& node) {
    return !isLipMin(node) && std::find(node.inputs.begin(), node.inputs.end(), alpha) != node.inputs.end();
  };
  const auto left = std::count_if(nodes.begin(), nodes.end(), stillReadsAlpha);
  if (left != 0) {
    return "self-check: rewire did not take: " + std::to_string(left) + " consumers of " + alpha +
           ", one still reads the alpha — refusing a graph that would serve the ellipse with the input "
           "attached "
           "and ignored";
  }
  return orderFault(graph);
}

}  // namespace

bool findComposeAlpha(GsSlice model, ComposeAlpha& alpha, std::string& reason) {
  const GsSlice graphBytes = gsGraphOf(model);
  if (graphBytes.empty()) {
    reason = "no graph";
    return false;
  }
  const GsGraphIndex graph = GsGraphIndex::ofGraph(graphBytes);
  if (graph.isGraphInput(kLipInputName)) {
    reason = std::string("the graph already carries an input named ") + kLipInputName;
    return false;
  }
  const std::optional<std::string_view> name = composeAlphaName(graph, graphBytes);
  if (!name) {
    reason = "the graph does not carry the unified compose tail";
    return false;
  }
  const std::optional<size_t> producer = graph.producerOf(*name);
  if (!producer) {
    reason = "the compose alpha '" + std::string(*name) + "' has no producer node";
    return false;
  }
  const int64_t side = canvasSide(graph, graphBytes, *producer);
  if (side == 0) {
    reason = "cannot read the compose canvas off the graph";
    return false;
  }
  alpha = {std::string(*name), *producer, side, batchOf(graphBytes)};
  return true;
}

void gsPutNodeRewired(std::vector<uint8_t>& graph, GsSlice node, const std::string& from,
                      const std::string& to) {
  const std::vector<uint8_t> body = gsWithFieldsRewritten(
      node, onnx::kNodeInput, node.size + to.size(), [&](std::vector<uint8_t>& out, GsSlice input) {
        if (std::string_view(reinterpret_cast<const char*>(input.data), input.size) != from) return false;
        gsPutString(out, onnx::kNodeInput, to);
        return true;
      });
  gsPutMessage(graph, onnx::kGraphNode, body);
}

bool rewriteBindLipContour(std::vector<uint8_t>& model, std::string& reason, int32_t* canvas,
                           int32_t* batch) {
  reason.clear();
  if (canvas != nullptr) *canvas = 0;
  if (batch != nullptr) *batch = 0;
  ComposeAlpha alpha;
  if (!findComposeAlpha(gsSliceOf(model), alpha, reason)) return false;
  std::vector<uint8_t> bound = boundModel(gsSliceOf(model), alpha);
  reason = selfCheckFault(gsSliceOf(bound), alpha.name);
  if (!reason.empty()) return false;
  model.swap(bound);
  if (canvas != nullptr) *canvas = static_cast<int32_t>(alpha.side);
  if (batch != nullptr) *batch = static_cast<int32_t>(alpha.batch);
  return true;
}

}  // namespace ko
