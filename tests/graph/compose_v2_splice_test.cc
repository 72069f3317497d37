// The compose v2 splice and the structures the authoring tools build for it: the digests that bind a
// structure to its member, the placeholders, the carried initializers, the self-check, malformed bytes,
// and what a spliced director computes in ONNX Runtime next to the load-time bind.
#include "graph/compose_v2_splice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/lip_bind.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"
#include "graph/rebuild.h"
#include "graph/sha256.h"
#include "tests/support/authoring.h"
#include "tests/support/compose_tail_model.h"
#include "tests/support/failure_text.h"
#include "tests/support/graph_probe.h"
#include "tests/support/lip_rewrite.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FloatTensor;
using test::ModelBuilder;

std::string digestOf(const Bytes& bytes) {
  return sha256Hex(bytes.data(), bytes.size());
}

std::string cut(const std::string& digest) {
  return digest.substr(0, 12);
}

test::LipRewrite splice(const Bytes& member, const Bytes& structure, const std::string& source = "",
                        const std::string& structureDigest = "") {
  return test::runLipRewrite(member, [&](Bytes& model, std::string& reason, int32_t* canvas, int32_t* batch) {
    return spliceComposeV2(model, structure, reason, source, canvas, batch, structureDigest);
  });
}

Bytes spliced(const Bytes& member, const Bytes& structure) {
  return test::expectRewritten(splice(member, structure)).model;
}

std::string refusal(const Bytes& member, const Bytes& structure, const std::string& source = "",
                    const std::string& structureDigest = "") {
  return test::expectRefused(splice(member, structure, source, structureDigest), member);
}

// X → Relu "first" (domain and attribute stated) → R; Mul(R, w) → Y. "spare" is read by nobody.
Bytes smallMember() {
  return ModelBuilder()
      .input("X", {1, 1, 2, 2})
      .output("Y", {1, 1, 2, 2})
      .initializer("w", test::floatTensor({1}, {2.0f}))
      .initializer("spare", test::floatTensor({1}, {5.0f}))
      .node("Relu", {"X"}, {"R"}, "ai.onnx")
      .nodeName("first")
      .attr("note", 3)
      .node("Mul", {"R", "w"}, {"Y"})
      .nodeName("scale")
      .bytes();
}

// A structure for `member` so far: its source digest, the inputs X and "lip_delivery" of `lipShape`
// and the output Y.
ModelBuilder structureFor(const Bytes& member, const std::vector<test::Dim>& lipShape = {1, 1, 2, 2}) {
  ModelBuilder m;
  m.input("X", {1, 1, 2, 2}).output("Y", {1, 1, 2, 2}).metadata(kCv2SourceKey, digestOf(member));
  if (!lipShape.empty()) m.input(kLipInputName, lipShape);
  return m;
}

ModelBuilder& placeholder(ModelBuilder& m, int64_t k, const std::vector<std::string>& outputs) {
  return m.node(kCv2MemberOpType, {}, outputs, kCv2MemberDomain).attr("k", k);
}

// Both member nodes as placeholders, the Mul first (the order is the structure's to choose).
ModelBuilder bothPlaceholders(const Bytes& member, const std::vector<test::Dim>& lipShape = {1, 1, 2, 2}) {
  ModelBuilder m = structureFor(member, lipShape);
  placeholder(m, 0, {"R"});
  placeholder(m, 1, {"Y"});
  return m;
}

std::string staleRefusal(const std::string& builtFor, const std::string& given) {
  return "compose v2 structure was built for member " + cut(builtFor) + ", not " + cut(given) +
         " — refusing to splice a stale structure";
}

std::vector<Bytes> graphFields(const Bytes& model) {
  return test::fieldsOf(gsGraphOf(gsSliceOf(model)));
}

// The member's initializer field named `name`.
Bytes initializerField(const Bytes& model, const std::string& name) {
  for (const Bytes& field : graphFields(model)) {
    if (field[0] == (onnx::kGraphInitializer << 3 | kGsLengthDelimited) &&
        gsFirstStr(hcPayload(gsSliceOf(field)), onnx::kTensorName) == name)
      return field;
  }
  return {};
}

TEST(ComposeV2Splice, PlaceholdersBecomeTheMemberNodesByteForByteAndReadInitializersAreCarriedOnce) {
  const Bytes member = smallMember();
  const std::vector<GsNodeInfo> memberNodes = test::nodesOf(member);
  const Bytes structure = bothPlaceholders(member).initializer("own", test::floatTensor({1}, {1.0f})).bytes();
  const test::LipRewrite result = splice(member, structure);
  ASSERT_TRUE(result.done) << result.reason;
  EXPECT_EQ(result.canvas, 2);
  EXPECT_EQ(result.batch, 1);
  const std::vector<Bytes> fields = graphFields(result.model);
  const std::vector<Bytes> structureFields = graphFields(structure);
  ASSERT_EQ(fields.size(), structureFields.size() + 1);
  EXPECT_EQ(fields[0], test::bytesOf(memberNodes[0].raw));  // name, attribute and domain included
  EXPECT_EQ(fields[1], test::bytesOf(memberNodes[1].raw));
  EXPECT_EQ(fields[2], structureFields[2]);  // the graph's name
  EXPECT_EQ(fields[3], initializerField(structure, "own"));
  EXPECT_EQ(fields[4], initializerField(member, "w"));  // after the structure's last initializer
  for (size_t index = 5; index < fields.size(); ++index) EXPECT_EQ(fields[index], structureFields[index - 1]);
  EXPECT_EQ(initializerField(result.model, "spare"), Bytes());
  test::expectFieldsOutsideTheGraphKept(structure, result.model);  // everything around it is the structure's
}

TEST(ComposeV2Splice, CarriesNothingTheStructureHoldsItselfInsertsBeforeTheInputsAndLeavesItsOwnNodes) {
  const Bytes member = smallMember();
  const Bytes ownW = bothPlaceholders(member).initializer("w", test::floatTensor({1}, {7.0f})).bytes();
  const Bytes withOwn = spliced(member, ownW);
  EXPECT_EQ(graphFields(withOwn).size(), graphFields(ownW).size());
  EXPECT_EQ(initializerField(withOwn, "w"), initializerField(ownW, "w"));
  const Bytes bare = bothPlaceholders(member).bytes();
  const std::vector<Bytes> fields = graphFields(spliced(member, bare));
  ASSERT_EQ(fields.size(), 7u);  // two nodes, the name, the carried initializer, two inputs, the output
  EXPECT_EQ(fields[3], initializerField(member, "w"));
  EXPECT_EQ(fields[4].at(0), onnx::kGraphInput << 3 | kGsLengthDelimited);
  // A structure of its own nodes comes out as it went.
  ModelBuilder own = structureFor(member);
  own.node("Relu", {kLipInputName}, {"Y"});
  EXPECT_EQ(spliced(member, own.bytes()), own.bytes());
}

TEST(ComposeV2Splice, ReportsTheLipInputsDimsAndZeroForASymbolicOne) {
  const Bytes member = smallMember();
  ModelBuilder m = structureFor(member, {"N", 1, 6, 6});
  placeholder(m, 1, {"Y"}).node("Relu", {"X"}, {"R"});
  const test::LipRewrite result = splice(member, m.bytes());
  ASSERT_TRUE(result.done) << result.reason;
  EXPECT_EQ(result.canvas, 6);
  EXPECT_EQ(result.batch, 0);
}

TEST(ComposeV2SpliceRefuses, StructuresThatDoNotFitTheMemberAndSaysWhy) {
  const Bytes member = smallMember();
  const Bytes structure = bothPlaceholders(member).bytes();
  const std::string other = digestOf(Bytes{1, 2, 3});
  Bytes twoGraphs = structure;
  gsPutMessage(twoGraphs, onnx::kModelGraph, Bytes{});
  Bytes noGraph;
  for (const Bytes& field : test::fieldsOf(gsSliceOf(structure))) {
    if (field[0] != (onnx::kModelGraph << 3 | kGsLengthDelimited))
      noGraph.insert(noGraph.end(), field.begin(), field.end());
  }
  ModelBuilder unsourced;
  unsourced.input(kLipInputName, {1, 1, 2, 2}).metadata("compose_v2.other", digestOf(member));
  const Bytes noMemberGraph = test::modelWithoutGraph();
  const auto with = [&](const std::function<void(ModelBuilder&)>& add) {
    ModelBuilder m = structureFor(member);
    add(m);
    return m.bytes();
  };
  ModelBuilder unread = structureFor(member);
  unread.node("Sum", {"d", "b", "", "a", "c", "X"}, {"Y"});
  // A member node that is itself a placeholder survives the splice.
  const Bytes nested = ModelBuilder()
                           .input("X", {1, 1, 2, 2})
                           .output("Y", {1, 1, 2, 2})
                           .node(kCv2MemberOpType, {"X"}, {"R"}, kCv2MemberDomain)
                           .attr("k", 0)
                           .node("Relu", {"R"}, {"Y"})
                           .bytes();
  ModelBuilder lipAsValue = bothPlaceholders(member, {});
  lipAsValue.valueInfo(kLipInputName, {1, 1, 2, 2});
  const Bytes cutMember(member.begin(), member.end() - 20);
  const std::string noLip =
      "compose v2 splice self-check: the spliced graph declares no rank-4 lip_delivery input — not a compose "
      "v2 graph";
  const std::string noK = "compose v2 splice: a MemberNode placeholder carries no `k`";
  const struct {
    const char* name;
    Bytes member, structure;
    std::string source, structureDigest, expected;
  } cases[] = {
      {"moved structure bytes", member, structure, "", other,
       "compose v2 structure bytes hash to " + cut(digestOf(structure)) + ", not the " + cut(other) +
           " the template names — refusing a structure whose own bytes moved"},
      {"disagreeing bindings", member, structure, other, digestOf(structure),
       "compose v2 splice: the template says the structure is for member " + cut(other) +
           " and the structure itself says " + cut(digestOf(member)) +
           " — refusing a structure whose two bindings disagree"},
      // The last source entry counts.
      {"last source entry", member, bothPlaceholders(member).metadata(kCv2SourceKey, other).bytes(), "", "",
       staleRefusal(other, digestOf(member))},
      {"two graphs", member, twoGraphs, "", "",
       "compose v2 splice: the structure carries 2 graph fields (one expected)"},
      {"no graph", member, noGraph, "", "",
       "compose v2 splice: the structure carries 0 graph fields (one expected)"},
      {"no source", member, unsourced.bytes(), "", "",
       "compose v2 splice: the structure names no source member (compose_v2.source_sha256)"},
      {"no member graph", noMemberGraph, structureFor(noMemberGraph).bytes(), "", "",
       "compose v2 splice: the member carries no graph"},
      {"no k", member, with([](ModelBuilder& m) { m.node(kCv2MemberOpType, {}, {"Y"}, kCv2MemberDomain); }),
       "", "", noK},
      {"a string k", member,
       with([](ModelBuilder& m) { m.node(kCv2MemberOpType, {}, {"Y"}, kCv2MemberDomain).attr("k", "1"); }),
       "", "", noK},
      {"k past the nodes", member, with([](ModelBuilder& m) { placeholder(m, 2, {"Y"}); }), "", "",
       "compose v2 splice: placeholder 2 does not name member node 2"},
      {"negative k", member, with([](ModelBuilder& m) { placeholder(m, -1, {"Y"}); }), "", "",
       "compose v2 splice: placeholder -1 does not name member node -1"},
      {"other outputs", member, with([](ModelBuilder& m) { placeholder(m, 1, {"R"}); }), "", "",
       "compose v2 splice: placeholder 1 does not name member node 1"},
      {"more outputs", member, with([](ModelBuilder& m) {
         placeholder(m, 1, {"Y", "Z"});
       }),
       "", "", "compose v2 splice: placeholder 1 does not name member node 1"},
      // The last integer "k" counts.
      {"last k", member, with([](ModelBuilder& m) { placeholder(m, 1, {"Y"}).attr("k", 0); }), "", "",
       "compose v2 splice: placeholder 0 does not name member node 0"},
      // Nobody carries them: the three smallest are listed.
      {"unread names", member, unread.bytes(), "", "",
       "compose v2 splice: 'a', 'b', 'c' are read but neither member nor structure carries them"},
      {"R without its node", member, with([](ModelBuilder& m) { placeholder(m, 1, {"Y"}); }), "", "",
       "compose v2 splice: 'R' are read but neither member nor structure carries them"},
      {"a placeholder left", nested, bothPlaceholders(nested).bytes(), "", "",
       "compose v2 splice self-check: 2 nodes (2 expected), 1 placeholder(s) left"},
      {"a rank-3 lip", member, bothPlaceholders(member, {1, 2, 2}).bytes(), "", "", noLip},
      {"no lip", member, bothPlaceholders(member, {}).bytes(), "", "", noLip},
      {"a lip only as a value", member, lipAsValue.bytes(), "", "", noLip},
      {"a cut structure", member, Bytes(structure.begin(), structure.end() - 1), "", "",
       "compose v2 splice: unreadable protobuf (onnx: truncated)"},
      {"a cut member", cutMember, bothPlaceholders(cutMember).bytes(), "", "",
       "compose v2 splice: unreadable protobuf (onnx: truncated)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(refusal(c.member, c.structure, c.source, c.structureDigest), c.expected);
  }
  EXPECT_TRUE(splice(member, structure, digestOf(member), digestOf(structure)).done);
  for (size_t length = 0; length < structure.size(); ++length) {
    const Bytes prefix(structure.begin(), structure.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(test::failureText([&] { splice(member, prefix); }), test::kNoFailure) << length;
  }
}

TEST(ComposeV2SpliceRefuses, AStaleStructureWhateverRewroteTheMember) {
  const Bytes member = test::composeTailModel({});
  const Bytes structure = test::composeV2Structure(member);
  Bytes bound = member;
  std::string reason;
  ASSERT_TRUE(rewriteBindLipContour(bound, reason, nullptr, nullptr)) << reason;
  Bytes rebuilt;
  gsRebuild(gsSliceOf(member), {}, rebuilt);
  for (const Bytes& changed : {bound, rebuilt}) {
    ASSERT_NE(changed, member);
    EXPECT_EQ(refusal(changed, structure), staleRefusal(digestOf(member), digestOf(changed)));
  }
}

TEST(ComposeV2Structure, StandsEveryUnchangedMemberNodeAsAPlaceholder) {
  const Bytes member = test::composeTailModel({.batch = 2});
  const Bytes structure = test::composeV2Structure(member);
  const std::vector<GsNodeInfo> memberNodes = test::nodesOf(member);
  std::unordered_set<std::string> inputs;
  const std::vector<GsNodeInfo> nodes = test::nodesOf(structure, &inputs);
  ASSERT_EQ(nodes.size(), memberNodes.size() + 1);
  size_t placeholders = 0;
  size_t k = 0;
  for (const GsNodeInfo& node : nodes) {
    const Cv2Node read = cv2ReadNode(node.raw);
    if (node.opType == "Min") continue;
    if (read.placeholder) {
      ++placeholders;
      EXPECT_EQ(read.k, static_cast<int64_t>(k));
      EXPECT_EQ(gsViewNode(hcPayload(node.raw)).name, "member_" + std::to_string(k));
      EXPECT_EQ(node.outputs, memberNodes[k].outputs);
    }
    ++k;
  }
  EXPECT_EQ(placeholders, memberNodes.size() - 2);  // the alpha's two readers stand as themselves
  EXPECT_TRUE(inputs.contains(kLipInputName));
  for (const Bytes& field : graphFields(structure))
    EXPECT_NE(field[0], onnx::kGraphInitializer << 3 | kGsLengthDelimited);
  // IR version and opset imports as the member states them, then the member's digest.
  std::vector<Bytes> kept;
  for (const Bytes& field : test::fieldsOf(gsSliceOf(member))) {
    if (field[0] == (onnx::kModelIrVersion << 3 | kGsVarint) ||
        field[0] == (onnx::kModelOpsetImport << 3 | kGsLengthDelimited))
      kept.push_back(field);
  }
  const std::vector<Bytes> top = test::fieldsOf(gsSliceOf(structure));
  ASSERT_EQ(top.size(), kept.size() + 2);
  EXPECT_EQ(top.front(), kept.front());
  EXPECT_EQ(std::vector<Bytes>(top.begin() + 2, top.end() - 1),
            std::vector<Bytes>(kept.begin() + 1, kept.end()));
  const GsSlice entry = hcPayload(gsSliceOf(top.back()));
  EXPECT_EQ(gsFirstStr(entry, onnx::kEntryKey), kCv2SourceKey);
  EXPECT_EQ(gsFirstStr(entry, onnx::kEntryValue), digestOf(member));
  EXPECT_THROW(test::composeV2Structure(test::composeTailModel({.one = 0.5f})), std::invalid_argument);
  EXPECT_EQ(
      test::failureText([] { test::composeV2Structure(test::composeTailModel({.one = 0.5f})); }),
      "compose v2 structure: the member has no compose alpha to bind: the graph does not carry the unified "
      "compose tail");
}

TEST(ComposeV2SpliceInOrt, ASplicedDirectorComputesWhatTheBoundOneComputes) {
  constexpr int64_t kBatch = 2;
  constexpr int64_t kSide = 8;
  const Bytes member = test::composeTailModel({.side = kSide, .batch = kBatch});
  const Bytes structure = test::composeV2Structure(member);
  const test::LipRewrite result = splice(member, structure, digestOf(member), digestOf(structure));
  ASSERT_TRUE(result.done) << result.reason;
  EXPECT_EQ(result.canvas, kSide);
  EXPECT_EQ(result.batch, kBatch);
  EXPECT_EQ(spliced(member, structure), result.model);  // the digests only check
  Bytes bound = member;
  std::string reason;
  ASSERT_TRUE(rewriteBindLipContour(bound, reason, nullptr, nullptr)) << reason;
  EXPECT_EQ(test::opTypesOf(result.model), test::opTypesOf(bound));

  std::mt19937 rng(55);
  const test::NamedTensors inputs{
      {"P_rgb",
       {{kBatch, 3, kSide, kSide}, test::uniformValues(kBatch * 3 * kSide * kSide, 0.0f, 1.0f, rng)}},
      {"kp_driving", test::uniformTensor({kBatch, 21, 3}, 1.0f, rng)},
      {kLipInputName,
       {{kBatch, 1, kSide, kSide}, test::uniformValues(kBatch * kSide * kSide, 0.0f, 1.0f, rng)}}};
  const FloatTensor viaSplice = test::runModel(result.model, inputs, {"out"}).at(0);
  const FloatTensor viaBind = test::runModel(bound, inputs, {"out"}).at(0);
  EXPECT_EQ(viaSplice.shape, viaBind.shape);
  EXPECT_LE(test::maxAbsDifference(viaSplice.values, viaBind.values), 1e-6f);
}

}  // namespace
}  // namespace ko
