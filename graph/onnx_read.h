// Readers that know just enough of the ONNX schema to find a model's graph, its nodes, initializers,
// inputs and attributes. They take spans, return spans or copies, and skip every field they do not
// interpret. A reader that looks for something absent returns an empty result; malformed bytes throw
// the wire format's three errors (graph/onnx_wire.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/onnx_wire.h"

namespace ko {

struct GsNodeInfo {
  GsSlice raw;  // the whole node field of the graph, key and length included
  std::string opType;
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
};

// The graph: payload of the model's first length-delimited field 7, or an empty span.
GsSlice gsGraphOf(GsSlice model);

// Payload of the first length-delimited occurrence of `field`, or an empty span.
GsSlice gsFirstMsg(GsSlice message, uint32_t field);

// The first length-delimited occurrence of `field` as a string; empty if none.
std::string gsFirstStr(GsSlice message, uint32_t field);

// Every length-delimited occurrence of `field`, in order; replaces the contents of `out`.
void gsAllStr(GsSlice message, uint32_t field, std::vector<std::string>& out);

// One pass over a graph: `nodes` receives every node in graph order (its previous contents are
// replaced); the names of initializers and graph inputs are inserted into the two sets.
void gsReadGraph(GsSlice graph, std::vector<GsNodeInfo>& nodes,
                 std::unordered_set<std::string>& initializerNames,
                 std::unordered_set<std::string>& inputNames);

// Payload of the span's first field when that field is length-delimited, else an empty span.
GsSlice hcPayload(GsSlice span);

// Every dims value of a TensorProto, packed or unpacked, in order; replaces the contents of `out`.
void hcTensorDims(GsSlice tensor, std::vector<int64_t>& out);

// A TensorProto's floats: from raw_data (little-endian, whole values only) when present, else from
// float_data, packed or unpacked. True only for a FLOAT tensor with at least one value; `out` is
// left empty otherwise.
bool hcTensorFloats(GsSlice tensor, std::vector<float>& out);

// The TensorProto of a node's attribute named "value", or an empty span.
GsSlice hcConstValue(GsSlice node);

// The graph input named `name`: dim_value of its first and last dimension (0 for a dimension without
// a value) and its rank. All three are 0 when there is no such input.
void ldInputDims(GsSlice graph, const std::string& name, int64_t& first, int64_t& last, int64_t& rank);

}  // namespace ko
