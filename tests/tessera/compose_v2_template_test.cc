#include "tessera/compose_v2_template.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/authoring.h"

namespace ko::tessera {
namespace {

using ko::authoring::ComposeV2Graph;
using ko::authoring::LipTemplateSpec;

const std::string kSourceDigest(64, 'a');
const std::string kStructureDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kGraph = "director.onnx";

LipTemplateSpec composeTemplate() {
  LipTemplateSpec lips;
  lips.uCanon = {{1, 0}, {0, 1}, {-1, 0}};
  lips.lipIdx = {0, 1};
  lips.composeV2 = {{kGraph, "QUJD", kSourceDigest, kStructureDigest},
                    {"other.onnx", "QQ==", kSourceDigest, kStructureDigest}};
  return lips;
}

struct Outcome {
  int result = 99;
  std::vector<uint8_t> structure;
  std::string source;
  std::string digest;
  std::string error;
};

Outcome extract(const std::string& text, const std::string& graph = kGraph) {
  Outcome o;
  o.result = composeV2StructureFromTemplate(text, graph, o.structure, o.source, o.error, &o.digest);
  return o;
}

std::string refusal(const std::function<void(ComposeV2Graph&)>& edit) {
  LipTemplateSpec lips = composeTemplate();
  edit(lips.composeV2[0]);
  const Outcome o = extract(ko::authoring::lipTemplateJson(lips));
  EXPECT_EQ(o.result, -1) << o.error;
  EXPECT_TRUE(o.structure.empty());
  return o.error;
}

TEST(ComposeV2Template, DeliversTheEntryForTheGraph) {
  const std::string text = ko::authoring::lipTemplateJson(composeTemplate());
  const Outcome o = extract(text);
  EXPECT_EQ(o.result, 1) << o.error;
  EXPECT_EQ(o.structure, (std::vector<uint8_t>{'A', 'B', 'C'}));
  EXPECT_EQ(o.source, kSourceDigest);
  EXPECT_EQ(o.digest, kStructureDigest);
  EXPECT_EQ(o.error, "");
  const Outcome other = extract(text, "other.onnx");
  EXPECT_EQ(other.result, 1);
  EXPECT_EQ(other.structure, std::vector<uint8_t>{0x41});
  std::vector<uint8_t> structure;
  std::string source;
  std::string error;
  EXPECT_EQ(composeV2StructureFromTemplate(text, kGraph, structure, source, error, nullptr), 1);
  EXPECT_EQ(structure.size(), 3u);
}

TEST(ComposeV2Template, AbsentBlockOrGraphIsNotAnError) {
  LipTemplateSpec lips = composeTemplate();
  EXPECT_EQ(extract(ko::authoring::lipTemplateJson(lips), "missing.onnx").result, 0);
  lips.composeV2.clear();
  const Outcome o = extract(ko::authoring::lipTemplateJson(lips));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(extract("{}").result, 0);
}

TEST(ComposeV2Template, DocumentRefusals) {
  const auto error = [](const std::string& text) {
    const Outcome o = extract(text);
    EXPECT_EQ(o.result, -1);
    return o.error;
  };
  EXPECT_EQ(error("{\"a\": 1"), "lip_template.v1.json is not parseable JSON (teeth: malformed JSON object)");
  EXPECT_EQ(error(""), "lip_template.v1.json is not parseable JSON (teeth: JSON truncated)");
  EXPECT_EQ(error("\"text\""), "lip_template.v1.json is not a JSON object");
  EXPECT_EQ(error(R"({"compose_v2": []})"), "lip_template.v1.json compose_v2 is not a JSON object");
  EXPECT_EQ(error(R"({"compose_v2": {}})"),
            "lip_template.v1.json compose_v2 schema (absent) is not 'compose-v2-structure-v1'");
  EXPECT_EQ(error(R"({"compose_v2": {"schema": 2}})"),
            "lip_template.v1.json compose_v2 schema (absent) is not 'compose-v2-structure-v1'");
  EXPECT_EQ(
      error(R"({"compose_v2": {"schema": "compose-v2-structure-v2"}})"),
      "lip_template.v1.json compose_v2 schema 'compose-v2-structure-v2' is not 'compose-v2-structure-v1'");
  EXPECT_EQ(error(R"({"compose_v2": {"schema": "compose-v2-structure-v1", "graphs": []}})"),
            "lip_template.v1.json compose_v2 carries no `graphs` object");
  EXPECT_EQ(
      error(R"({"compose_v2": {"schema": "compose-v2-structure-v1", "graphs": {"director.onnx": "x"}}})"),
      "lip_template.v1.json compose_v2.graphs.director.onnx is not a JSON object");
}

TEST(ComposeV2Template, EntryRefusals) {
  const std::string path = "lip_template.v1.json compose_v2.graphs.director.onnx";
  EXPECT_EQ(refusal([](ComposeV2Graph& g) { g.sourceSha256 = std::string(63, 'a'); }),
            path + ".source_sha256 is not 64 lowercase hex");
  EXPECT_EQ(refusal([](ComposeV2Graph& g) { g.sourceSha256 = std::string(64, 'A'); }),
            path + ".source_sha256 is not 64 lowercase hex");
  EXPECT_EQ(refusal([](ComposeV2Graph& g) { g.structureBase64.clear(); }),
            path + ".structure is not a non-empty string");
  EXPECT_EQ(refusal([](ComposeV2Graph& g) { g.structureSha256 = std::string(64, 'g'); }),
            path + ".structure_sha256 is not 64 lowercase hex");
  // Every base64 refusal is Base64Strict's own, so one shows the entry passing its text through.
  EXPECT_EQ(refusal([](ComposeV2Graph& g) { g.structureBase64 = "QUJDR"; }),
            path + ".structure: base64 length 5 is not a multiple of 4");
  EXPECT_EQ(extract(R"({"compose_v2": {"schema": "compose-v2-structure-v1", "graphs": {"director.onnx": {
                        "source_sha256": ")" +
                    kSourceDigest + R"(", "structure": 5}}}})")
                .error,
            path + ".structure is not a non-empty string");
}

}  // namespace
}  // namespace ko::tessera
