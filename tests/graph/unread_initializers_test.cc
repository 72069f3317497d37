#include "graph/unread_initializers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"
#include "tests/support/authoring.h"
#include "tests/support/graph_probe.h"
#include "tests/support/ort_run.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;

// Y = X + w; "unused" is read by nothing, "declared" is also a graph input (an overridable
// default), "shown" is a graph output as it stands.
Bytes modelWith(const std::vector<std::string>& extra) {
  test::ModelBuilder m;
  m.input("X", {1, 4}).output("Y", {1, 4}).node("Add", {"X", "w"}, {"Y"});
  m.initializer("w", authoring::floatTensor({1, 4}, {1, 2, 3, 4}));
  for (const std::string& name : extra) {
    if (name == "declared") m.input(name, {1});
    if (name == "shown") m.output(name, {1});
    m.initializer(name, authoring::floatTensor({1}, {7}));
  }
  return m.bytes();
}

std::unordered_set<std::string> initializersOf(const Bytes& model) {
  std::unordered_set<std::string> names, inputs;
  std::vector<GsNodeInfo> nodes;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kModelGraph)) gsReadGraph(field.payload, nodes, names, inputs);
  }
  return names;
}

// The model with a graph attribute (an empty "then_branch") added to its first node.
Bytes withSubgraphAttribute(const Bytes& model) {
  Bytes out, graph;
  bool first = true;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field)) {
    if (!gsIsMessage(field, onnx::kModelGraph)) {
      gsPutRaw(out, field.raw.data, field.raw.size);
      continue;
    }
    GsReader graphReader(field.payload);
    GsField member;
    while (graphReader.next(member)) {
      if (!first || !gsIsMessage(member, onnx::kGraphNode)) {
        gsPutRaw(graph, member.raw.data, member.raw.size);
        continue;
      }
      first = false;
      Bytes node(member.payload.data, member.payload.data + member.payload.size), attribute;
      gsPutString(attribute, onnx::kAttrName, "then_branch");
      gsPutMessage(attribute, onnx::kAttrG, {});
      gsPutMessage(node, onnx::kNodeAttribute, attribute);
      gsPutMessage(graph, onnx::kGraphNode, node);
    }
  }
  gsPutMessage(out, onnx::kModelGraph, graph);
  return out;
}

TEST(UnreadInitializers, OnlyWhatNothingReadsGoesAndTheGraphComputesTheSame) {
  const struct {
    const char* name;
    Bytes model;
    size_t dropped;
    std::unordered_set<std::string> kept;
  } cases[] = {
      {"one unread", modelWith({"unused", "declared", "shown"}), 1, {"w", "declared", "shown"}},
      {"all read", modelWith({"declared"}), 0, {"w", "declared"}},
      {"a subgraph may read any", withSubgraphAttribute(modelWith({"unused"})), 0, {"w", "unused"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes model = c.model;
    EXPECT_EQ(gsDropUnreadInitializers(model), c.dropped);
    EXPECT_EQ(initializersOf(model), c.kept);
    if (c.dropped == 0) {
      EXPECT_EQ(model, c.model);
    }
  }
  Bytes pruned = modelWith({"unused"});
  const Bytes original = pruned;
  ASSERT_EQ(gsDropUnreadInitializers(pruned), 1u);
  const test::NamedTensors inputs{{"X", {{1, 4}, {0.5f, -1, 2, 0}}}};
  EXPECT_EQ(test::runModel(pruned, inputs, {"Y"})[0].values,
            test::runModel(original, inputs, {"Y"})[0].values);
}

TEST(UnreadInitializers, EveryTruncationFailsOnlyWithCodecErrors) {
  test::expectEveryPrefixFailsOnlyWithCodecErrors(modelWith({"unused"}), gsDropUnreadInitializers);
}

}  // namespace
}  // namespace ko
