// Reading back what a rewrite wrote, for the graph tests: a model's nodes and op types, a message's
// raw fields, and the sweep over a model's prefixes every rewrite must survive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_read.h"
#include "graph/onnx_wire.h"

namespace ko::test {

// The nodes of the model's graph, their raw spans pointing into `model`; `inputs`, when given,
// receives the graph's input names.
std::vector<GsNodeInfo> nodesOf(const std::vector<uint8_t>& model,
                                std::unordered_set<std::string>* inputs = nullptr);

std::vector<std::string> opTypesOf(const std::vector<GsNodeInfo>& nodes);
std::vector<std::string> opTypesOf(const std::vector<uint8_t>& model);

// The raw fields of a message, in order.
std::vector<std::vector<uint8_t>> fieldsOf(GsSlice message);

std::vector<uint8_t> bytesOf(GsSlice span);

// A model of an IR version and nothing else.
std::vector<uint8_t> modelWithoutGraph();

// Every top-level field of `after` but the graph is the one of `before` at the same place.
void expectFieldsOutsideTheGraphKept(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after);

// The versions at which the model imports "com.quandrel", one per version an import states.
std::vector<uint64_t> quandrelImportVersions(const std::vector<uint8_t>& model);

// Runs `rewrite` (returning how many places it changed) on every proper prefix of `model`: each run
// must either succeed or fail with one of the codec's errors, and one that changed nothing must leave
// the bytes as they were.
void expectEveryPrefixFailsOnlyWithCodecErrors(const std::vector<uint8_t>& model,
                                               const std::function<size_t(std::vector<uint8_t>&)>& rewrite);

// The prefix sweep above, and the two faults a rewrite must not take for a model: the first half of
// `model` fails as "onnx: truncated", eleven 0xff bytes as "onnx: bad varint", both left as they were.
void expectMalformedModelsFailWithCodecErrors(const std::vector<uint8_t>& model,
                                              const std::function<size_t(std::vector<uint8_t>&)>& rewrite);

}  // namespace ko::test
