#include "graph/head_cubic_resize.h"

#include <array>
#include <bit>
#include <optional>
#include <string>
#include <string_view>

#include "graph/cubic_taps.h"
#include "graph/graph_index.h"
#include "graph/node_retype.h"
#include "graph/onnx_attribute.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"
#include "graph/onnx_write.h"
#include "graph/resize_attrs.h"

namespace ko {
namespace {

constexpr int64_t kMaxChannels = int64_t{1} << 20;
constexpr int64_t kWindow = 5;
constexpr int64_t kPhases = 4;  // two rows by two columns of output per source sample
constexpr size_t kGraphGrowth = 1024;

bool attributesQualify(const HcAttrs& attrs) {
  return !attrs.unclear && attrs.mode == "cubic" && attrs.coordinateTransformationMode == "half_pixel" &&
         !attrs.hasAxes && !attrs.excludeOutside && !attrs.antialias &&
         (attrs.keepAspectRatioPolicy.empty() || attrs.keepAspectRatioPolicy == "stretch");
}

bool scalesDouble(GsSlice tensor) {
  std::vector<float> scales;
  return hcTensorFloats(tensor, scales) && scales == std::vector<float>{1, 1, 2, 2};
}

bool qualifies(const GsNodeView& node, const GsGraphIndex& graph) {
  if (node.opType != "Resize" || !node.domain.empty()) return false;
  if (node.inputs.size() != 3 || !node.inputs[1].empty() || node.outputs.size() != 1) return false;
  return attributesQualify(hcReadAttrs(node.payload)) && scalesDouble(graph.soleInitializer(node.inputs[2]));
}

// The scales must stay 1, 1, 2, 2 whatever is fed, and be the one-dimensional list Resize reads.
bool scalesConstant(std::string_view name, const GsGraphIndex& graph) {
  std::vector<int64_t> dims;
  hcTensorDims(graph.soleInitializer(name), dims);
  return !graph.isGraphInput(name) && dims == std::vector<int64_t>{4};
}

struct Consumer {
  const GsNodeView* node = nullptr;
  size_t position = 0;
};

// The node input reading `value`, when exactly one input of one node reads it.
std::optional<Consumer> soleConsumer(const std::vector<GsNodeView>& nodes, std::string_view value) {
  std::optional<Consumer> consumer;
  for (const GsNodeView& node : nodes) {
    for (size_t position = 0; position < node.inputs.size(); ++position) {
      if (node.inputs[position] != value) continue;
      if (consumer) return std::nullopt;
      consumer = Consumer{&node, position};
    }
  }
  return consumer;
}

// The Conv's group attribute, 1 when absent; empty when stated twice or not an integer.
std::optional<int64_t> convGroup(GsSlice conv) {
  std::optional<int64_t> group;
  bool stated = false;
  GsReader reader(conv);
  GsField field;
  while (reader.next(field)) {
    if (!gsIsMessage(field, onnx::kNodeAttribute)) continue;
    const GsAttribute attribute = gsReadAttribute(field.payload);
    if (attribute.name != "group") continue;
    if (stated) return std::nullopt;
    stated = true;
    group = gsAttrInt(attribute);
  }
  return stated ? group : int64_t{1};
}

bool isDefaultDomain(std::string_view domain) {
  return domain.empty() || domain == "ai.onnx";
}

// The channel count of the Conv's input, C = group × the weight's second dimension. The weight must be
// float: the chain's own weight is, and Conv takes one element type for both.
std::optional<int64_t> convChannels(const Consumer& consumer, const GsGraphIndex& graph) {
  const GsNodeView& conv = *consumer.node;
  if (conv.opType != "Conv" || !isDefaultDomain(conv.domain) || conv.inputs.size() < 2) return std::nullopt;
  if (consumer.position != 0) return std::nullopt;
  const GsSlice weight = graph.soleInitializer(conv.inputs[1]);
  std::vector<int64_t> dims;
  hcTensorDims(weight, dims);
  const bool isFloat = gsLastVarint(weight, onnx::kTensorDataType) == static_cast<uint64_t>(onnx::kFloat);
  if (dims.size() != 4 || !isFloat) return std::nullopt;
  const std::optional<int64_t> group = convGroup(conv.payload);
  if (!group || *group < 1 || dims[1] < 1) return std::nullopt;
  if (*group > kMaxChannels || dims[1] > kMaxChannels / *group) return std::nullopt;
  return *group * dims[1];
}

struct ChainNames {
  std::string pads;
  std::string weights;
  std::string padded;
  std::string convolved;
  std::string padNode;
  std::string convNode;
  std::string depthToSpaceNode;
};

ChainNames chainNames(const GsNodeView& resize, size_t position) {
  const std::string prefix = "rz" + std::to_string(position);
  const std::string base = resize.name.empty() ? std::string("/Resize") : std::string(resize.name);
  return {prefix + "_pads", prefix + "_dw_w", prefix + "_padout", prefix + "_convout",
          base + "/pad",    base + "/dwconv", base + "/d2s"};
}

struct Plan {
  size_t position = 0;
  std::string input;
  std::string output;
  int64_t channels = 0;
  double coefficient = 0;
  ChainNames names;
};

std::optional<Plan> planFor(const GsGraphIndex& graph, size_t position) {
  const GsNodeView& resize = graph.nodes()[position];
  if (resize.inputs[0].empty() || resize.outputs[0].empty()) return std::nullopt;
  if (!scalesConstant(resize.inputs[2], graph)) return std::nullopt;
  const std::optional<Consumer> consumer = soleConsumer(graph.nodes(), resize.outputs[0]);
  if (!consumer) return std::nullopt;
  const std::optional<int64_t> channels = convChannels(*consumer, graph);
  if (!channels) return std::nullopt;
  Plan plan{.position = position,
            .input = std::string(resize.inputs[0]),
            .output = std::string(resize.outputs[0]),
            .channels = *channels,
            .coefficient = hcReadAttrs(resize.payload).cubicCoeffA,
            .names = chainNames(resize, position)};
  // A tensor of the graph under one of the new names would be defined twice.
  for (const std::string* name :
       {&plan.names.pads, &plan.names.weights, &plan.names.padded, &plan.names.convolved}) {
    if (graph.mentions(*name)) return std::nullopt;
  }
  return plan;
}

void putLittleEndian(std::vector<uint8_t>& out, uint64_t bits, int bytes) {
  for (int index = 0; index < bytes; ++index) out.push_back(static_cast<uint8_t>(bits >> (8 * index)));
}

// The 5-sample window starts two samples before source k. Output 2k reads source k − 0.25 (phase
// 0.75 past k − 1: window 0–3), output 2k + 1 reads k + 0.25 (phase 0.25 past k: window 1–4).
std::array<std::array<double, kWindow>, 2> phaseFilters(double a) {
  std::array<std::array<double, kWindow>, 2> filters{};
  double taps[4];
  hcTaps(0.75, a, taps);
  for (size_t k = 0; k < 4; ++k) filters[0][k] = taps[k];
  hcTaps(0.25, a, taps);
  for (size_t k = 0; k < 4; ++k) filters[1][k + 1] = taps[k];
  return filters;
}

// [4C, 1, 5, 5]: output channel 4c + 2·py + px is the outer product of the vertical filter of phase py
// and the horizontal one of phase px, the order in which DepthToSpace (CRD) interleaves them.
std::vector<uint8_t> depthwiseWeights(int64_t channels, double a) {
  const auto filters = phaseFilters(a);
  std::vector<uint8_t> oneChannel;
  for (const auto& vertical : filters) {
    for (const auto& horizontal : filters) {
      for (double row : vertical) {
        for (double column : horizontal) {
          putLittleEndian(oneChannel, std::bit_cast<uint32_t>(static_cast<float>(row * column)), 4);
        }
      }
    }
  }
  std::vector<uint8_t> all;
  all.reserve(oneChannel.size() * static_cast<size_t>(channels));
  for (int64_t channel = 0; channel < channels; ++channel) {
    all.insert(all.end(), oneChannel.begin(), oneChannel.end());
  }
  return all;
}

std::vector<uint8_t> convAttributes(int64_t channels) {
  const int64_t kernel[] = {kWindow, kWindow};
  const int64_t ones[] = {1, 1};
  const int64_t noPads[] = {0, 0, 0, 0};
  std::vector<uint8_t> attributes;
  hcAttrI(attributes, "group", channels);
  hcAttrIs(attributes, "kernel_shape", kernel, 2);
  hcAttrIs(attributes, "strides", ones, 2);
  hcAttrIs(attributes, "dilations", ones, 2);
  hcAttrIs(attributes, "pads", noPads, 4);
  return attributes;
}

void putChain(std::vector<uint8_t>& graph, const Plan& plan) {
  const ChainNames& names = plan.names;
  std::vector<uint8_t> padAttributes;
  hcAttrS(padAttributes, "edge");
  hcNode(graph, "Pad", {plan.input, names.pads}, names.padded, names.padNode, padAttributes);
  hcNode(graph, "Conv", {names.padded, names.weights}, names.convolved, names.convNode,
         convAttributes(plan.channels));
  std::vector<uint8_t> depthToSpaceAttributes;
  hcAttrI(depthToSpaceAttributes, "blocksize", 2);
  hcAttrS(depthToSpaceAttributes, "CRD");
  hcNode(graph, "DepthToSpace", {names.convolved}, plan.output, names.depthToSpaceNode,
         depthToSpaceAttributes);
}

void putInitializers(std::vector<uint8_t>& graph, const Plan& plan) {
  // Two samples on both sides of both spatial axes, in ONNX's begin-then-end order.
  std::vector<uint8_t> pads;
  for (int64_t pad : {0, 0, 2, 2, 0, 0, 2, 2}) putLittleEndian(pads, static_cast<uint64_t>(pad), 8);
  hcInit(graph, plan.names.pads, onnx::kInt64, {8}, pads.data(), pads.size());
  const std::vector<uint8_t> weights = depthwiseWeights(plan.channels, plan.coefficient);
  hcInit(graph, plan.names.weights, onnx::kFloat, {kPhases * plan.channels, 1, kWindow, kWindow},
         weights.data(), weights.size());
}

size_t weightBytes(const Plan& plan) {
  return static_cast<size_t>(kPhases * plan.channels * kWindow * kWindow) * sizeof(float);
}

// The graph field with the Resize in place of the chain, the chain's initializers appended to it;
// every other field copied as it stood. `position` counts nodes across the model's graph fields.
std::vector<uint8_t> rewrittenGraph(GsSlice graph, const Plan& plan, size_t& position) {
  bool holdsResize = false;
  const auto putChainAtPlan = [&](std::vector<uint8_t>& out, GsSlice) {
    if (position++ != plan.position) return false;
    putChain(out, plan);
    holdsResize = true;
    return true;
  };
  std::vector<uint8_t> body =
      gsWithNodesRewritten(graph, graph.size + weightBytes(plan) + kGraphGrowth, putChainAtPlan);
  if (holdsResize) putInitializers(body, plan);
  return body;
}

std::vector<uint8_t> rewrittenModel(GsSlice model, const Plan& plan) {
  size_t position = 0;
  return gsWithGraphsRewritten(model, model.size + weightBytes(plan) + kGraphGrowth,
                               [&](GsSlice graph) { return rewrittenGraph(graph, plan, position); });
}

}  // namespace

size_t rewriteHeadCubicResize(std::vector<uint8_t>& model) {
  const GsSlice original = gsSliceOf(model);
  const GsGraphIndex graph = GsGraphIndex::ofModel(original);
  size_t qualifying = 0;
  size_t position = 0;
  for (size_t index = 0; index < graph.nodes().size(); ++index) {
    if (!qualifies(graph.nodes()[index], graph)) continue;
    ++qualifying;
    position = index;
  }
  // Two cubic doublings leave no way to tell which is the head's; neither is touched.
  if (qualifying != 1) return 0;
  const std::optional<Plan> plan = planFor(graph, position);
  if (!plan) return 0;
  // Built aside and swapped in only when complete, so a failure leaves the caller's bytes as they were.
  std::vector<uint8_t> rebuilt = rewrittenModel(original, *plan);
  model.swap(rebuilt);
  return 1;
}

}  // namespace ko
