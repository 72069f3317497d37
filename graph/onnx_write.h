// Writers for the few ONNX messages the rewrites create: a float tensor's value info, a node in the
// default domain, an initializer and integer or string attributes. Each appends complete fields to a
// buffer the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ko {

// A ValueInfoProto body: `name` and a tensor type of `elemType` whose shape holds the already encoded
// TensorShapeProto body `shape` (its dim fields).
std::vector<uint8_t> gsTensorValueInfoBody(const std::string& name, int32_t elemType,
                                           const std::vector<uint8_t>& shape);

// A ValueInfoProto under `field` (11 input, 12 output, 13 value_info): a FLOAT tensor of `rank`
// dimensions, dim_value for an entry of at least 1, else dim_param "ko_hoist_d<index>". Null `dims`
// makes every dimension symbolic.
void gsPutTensorValueInfo(std::vector<uint8_t>& buffer, uint32_t field, const std::string& name,
                          const int64_t* dims, size_t rank);

// A NodeProto as graph field 1 in the default domain: inputs, the one output, name, op_type, then the
// attribute fields already encoded by the hcAttr* writers.
void hcNode(std::vector<uint8_t>& graph, const std::string& opType, const std::vector<std::string>& inputs,
            const std::string& output, const std::string& name, const std::vector<uint8_t>& attributes);

// A TensorProto as graph field 5: dims, data_type, name, raw_data.
void hcInit(std::vector<uint8_t>& graph, const std::string& name, int32_t dataType,
            const std::vector<int64_t>& dims, const void* data, size_t length);

// AttributeProto fields (node field 5).
void hcAttrI(std::vector<uint8_t>& attributes, const std::string& name, int64_t value);
void hcAttrIs(std::vector<uint8_t>& attributes, const std::string& name, const int64_t* values, size_t count);
// The string attribute "mode".
void hcAttrS(std::vector<uint8_t>& attributes, const std::string& value);

}  // namespace ko
