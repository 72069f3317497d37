#include "graph/onnx_write.h"

#include <cstdio>

#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"

namespace ko {
namespace {

std::vector<uint8_t> dimension(const int64_t* dims, size_t index) {
  std::vector<uint8_t> dim;
  if (dims != nullptr && dims[index] >= 1) {
    gsPutVarintField(dim, onnx::kDimValue, static_cast<uint64_t>(dims[index]));
  } else {
    char param[24];
    const int length = std::snprintf(param, sizeof param, "ko_hoist_d%u", static_cast<unsigned>(index));
    gsPutBytes(dim, onnx::kDimParam, param, static_cast<size_t>(length));
  }
  return dim;
}

}  // namespace

std::vector<uint8_t> gsTensorValueInfoBody(const std::string& name, int32_t elemType,
                                           const std::vector<uint8_t>& shape) {
  std::vector<uint8_t> tensorType;
  gsPutVarintField(tensorType, onnx::kTensorTypeElemType, static_cast<uint64_t>(elemType));
  gsPutMessage(tensorType, onnx::kTensorTypeShape, shape);
  std::vector<uint8_t> type;
  gsPutMessage(type, onnx::kTypeTensorType, tensorType);
  std::vector<uint8_t> valueInfo;
  gsPutString(valueInfo, onnx::kValueInfoName, name);
  gsPutMessage(valueInfo, onnx::kValueInfoType, type);
  return valueInfo;
}

void gsPutTensorValueInfo(std::vector<uint8_t>& buffer, uint32_t field, const std::string& name,
                          const int64_t* dims, size_t rank) {
  std::vector<uint8_t> shape;
  for (size_t index = 0; index < rank; ++index) gsPutMessage(shape, onnx::kShapeDim, dimension(dims, index));
  gsPutMessage(buffer, field, gsTensorValueInfoBody(name, onnx::kFloat, shape));
}

void hcNode(std::vector<uint8_t>& graph, const std::string& opType, const std::vector<std::string>& inputs,
            const std::string& output, const std::string& name, const std::vector<uint8_t>& attributes) {
  std::vector<uint8_t> node;
  for (const std::string& input : inputs) gsPutString(node, onnx::kNodeInput, input);
  gsPutString(node, onnx::kNodeOutput, output);
  gsPutString(node, onnx::kNodeName, name);
  gsPutString(node, onnx::kNodeOpType, opType);
  gsPutRaw(node, attributes.data(), attributes.size());
  gsPutMessage(graph, onnx::kGraphNode, node);
}

void hcInit(std::vector<uint8_t>& graph, const std::string& name, int32_t dataType,
            const std::vector<int64_t>& dims, const void* data, size_t length) {
  std::vector<uint8_t> tensor;
  for (int64_t dim : dims) gsPutVarintField(tensor, onnx::kTensorDims, static_cast<uint64_t>(dim));
  gsPutVarintField(tensor, onnx::kTensorDataType, static_cast<uint64_t>(dataType));
  gsPutString(tensor, onnx::kTensorName, name);
  gsPutBytes(tensor, onnx::kTensorRawData, data, length);
  gsPutMessage(graph, onnx::kGraphInitializer, tensor);
}

void hcAttrI(std::vector<uint8_t>& attributes, const std::string& name, int64_t value) {
  std::vector<uint8_t> attribute;
  gsPutString(attribute, onnx::kAttrName, name);
  gsPutVarintField(attribute, onnx::kAttrI, static_cast<uint64_t>(value));
  gsPutVarintField(attribute, onnx::kAttrType, onnx::kAttrTypeInt);
  gsPutMessage(attributes, onnx::kNodeAttribute, attribute);
}

void hcAttrIs(std::vector<uint8_t>& attributes, const std::string& name, const int64_t* values,
              size_t count) {
  std::vector<uint8_t> attribute;
  gsPutString(attribute, onnx::kAttrName, name);
  for (size_t index = 0; index < count; ++index) {
    gsPutVarintField(attribute, onnx::kAttrInts, static_cast<uint64_t>(values[index]));
  }
  gsPutVarintField(attribute, onnx::kAttrType, onnx::kAttrTypeInts);
  gsPutMessage(attributes, onnx::kNodeAttribute, attribute);
}

void hcAttrS(std::vector<uint8_t>& attributes, const std::string& value) {
  std::vector<uint8_t> attribute;
  gsPutString(attribute, onnx::kAttrName, "mode");
  gsPutString(attribute, onnx::kAttrS, value);
  gsPutVarintField(attribute, onnx::kAttrType, onnx::kAttrTypeString);
  gsPutMessage(attributes, onnx::kNodeAttribute, attribute);
}

}  // namespace ko
