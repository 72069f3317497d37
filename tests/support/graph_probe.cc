#include "tests/support/graph_probe.h"

#include <gtest/gtest.h>

#include <utility>

#include "graph/onnx_schema.h"
#include "tests/support/failure_text.h"

namespace ko::test {

std::vector<GsNodeInfo> nodesOf(const std::vector<uint8_t>& model, std::unordered_set<std::string>* inputs) {
  std::vector<GsNodeInfo> nodes;
  std::unordered_set<std::string> initializers;
  std::unordered_set<std::string> inputNames;
  gsReadGraph(gsGraphOf(gsSliceOf(model)), nodes, initializers, inputNames);
  if (inputs != nullptr) *inputs = std::move(inputNames);
  return nodes;
}

std::vector<std::string> opTypesOf(const std::vector<GsNodeInfo>& nodes) {
  std::vector<std::string> opTypes;
  for (const GsNodeInfo& node : nodes) opTypes.push_back(node.opType);
  return opTypes;
}

std::vector<std::string> opTypesOf(const std::vector<uint8_t>& model) {
  return opTypesOf(nodesOf(model));
}

std::vector<std::vector<uint8_t>> fieldsOf(GsSlice message) {
  std::vector<std::vector<uint8_t>> fields;
  GsReader reader(message);
  GsField field;
  while (reader.next(field)) fields.emplace_back(field.raw.data, field.raw.data + field.raw.size);
  return fields;
}

std::vector<uint8_t> bytesOf(GsSlice span) {
  return std::vector<uint8_t>(span.data, span.data + span.size);
}

std::vector<uint8_t> modelWithoutGraph() {
  std::vector<uint8_t> model;
  gsPutVarintField(model, onnx::kModelIrVersion, 8);
  return model;
}

void expectFieldsOutsideTheGraphKept(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  const std::vector<std::vector<uint8_t>> kept = fieldsOf(gsSliceOf(before));
  const std::vector<std::vector<uint8_t>> now = fieldsOf(gsSliceOf(after));
  ASSERT_EQ(now.size(), kept.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    if (kept[i][0] != (onnx::kModelGraph << 3 | kGsLengthDelimited)) {
      EXPECT_EQ(now[i], kept[i]) << "field " << i;
    }
  }
}

std::vector<uint64_t> quandrelImportVersions(const std::vector<uint8_t>& model) {
  std::vector<uint64_t> versions;
  GsReader reader(gsSliceOf(model));
  GsField field;
  while (reader.next(field)) {
    if (field.number != onnx::kModelOpsetImport ||
        gsFirstStr(field.payload, onnx::kOpsetDomain) != "com.quandrel")
      continue;
    GsReader opset(field.payload);
    GsField part;
    while (opset.next(part)) {
      if (part.number == onnx::kOpsetVersion) versions.push_back(part.varint);
    }
  }
  return versions;
}

void expectEveryPrefixFailsOnlyWithCodecErrors(const std::vector<uint8_t>& model,
                                               const std::function<size_t(std::vector<uint8_t>&)>& rewrite) {
  const std::unordered_set<std::string> codecErrors{"onnx: truncated", "onnx: bad varint",
                                                    "onnx: bad wire type", kNoFailure};
  for (size_t length = 0; length < model.size(); ++length) {
    const std::vector<uint8_t> prefix(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(length));
    std::vector<uint8_t> bytes = prefix;
    size_t count = 0;
    const std::string failure = failureText([&] { count = rewrite(bytes); });
    EXPECT_TRUE(codecErrors.contains(failure)) << length << ": " << failure;
    if (count == 0) {
      EXPECT_EQ(bytes, prefix) << length;
    }
  }
}

void expectMalformedModelsFailWithCodecErrors(const std::vector<uint8_t>& model,
                                              const std::function<size_t(std::vector<uint8_t>&)>& rewrite) {
  const std::vector<uint8_t> half(model.begin(),
                                  model.begin() + static_cast<std::ptrdiff_t>(model.size() / 2));
  const std::vector<uint8_t> badVarint(11, 0xff);
  for (const auto& [bytes, error] :
       {std::pair{half, "onnx: truncated"}, std::pair{badVarint, "onnx: bad varint"}}) {
    std::vector<uint8_t> copy = bytes;
    EXPECT_EQ(failureText([&] { rewrite(copy); }), error);
    EXPECT_EQ(copy, bytes);
  }
  expectEveryPrefixFailsOnlyWithCodecErrors(model, rewrite);
}

}  // namespace ko::test
