// ONNX's published field numbers (onnx.proto) and the enumeration values the codec reads or writes.
// Only what the codec and the tests' model writer touch is named; every other field is carried as
// bytes.
#pragma once

#include <cstdint>

namespace ko::onnx {

// ModelProto
inline constexpr uint32_t kModelIrVersion = 1;
inline constexpr uint32_t kModelProducerName = 2;
inline constexpr uint32_t kModelGraph = 7;
inline constexpr uint32_t kModelOpsetImport = 8;
inline constexpr uint32_t kModelMetadataProps = 14;

// StringStringEntryProto
inline constexpr uint32_t kEntryKey = 1;
inline constexpr uint32_t kEntryValue = 2;

// OperatorSetIdProto
inline constexpr uint32_t kOpsetDomain = 1;
inline constexpr uint32_t kOpsetVersion = 2;

// GraphProto
inline constexpr uint32_t kGraphNode = 1;
inline constexpr uint32_t kGraphName = 2;
inline constexpr uint32_t kGraphInitializer = 5;
inline constexpr uint32_t kGraphInput = 11;
inline constexpr uint32_t kGraphOutput = 12;
inline constexpr uint32_t kGraphValueInfo = 13;

// NodeProto
inline constexpr uint32_t kNodeInput = 1;
inline constexpr uint32_t kNodeOutput = 2;
inline constexpr uint32_t kNodeName = 3;
inline constexpr uint32_t kNodeOpType = 4;
inline constexpr uint32_t kNodeAttribute = 5;
inline constexpr uint32_t kNodeDomain = 7;

// AttributeProto
inline constexpr uint32_t kAttrName = 1;
inline constexpr uint32_t kAttrF = 2;
inline constexpr uint32_t kAttrI = 3;
inline constexpr uint32_t kAttrS = 4;
inline constexpr uint32_t kAttrT = 5;
inline constexpr uint32_t kAttrG = 6;
inline constexpr uint32_t kAttrFloats = 7;
inline constexpr uint32_t kAttrInts = 8;
inline constexpr uint32_t kAttrGraphs = 11;
inline constexpr uint32_t kAttrType = 20;

// AttributeProto.AttributeType
inline constexpr uint64_t kAttrTypeFloat = 1;
inline constexpr uint64_t kAttrTypeInt = 2;
inline constexpr uint64_t kAttrTypeString = 3;
inline constexpr uint64_t kAttrTypeTensor = 4;
inline constexpr uint64_t kAttrTypeFloats = 6;
inline constexpr uint64_t kAttrTypeInts = 7;

// TensorProto
inline constexpr uint32_t kTensorDims = 1;
inline constexpr uint32_t kTensorDataType = 2;
inline constexpr uint32_t kTensorFloatData = 4;
inline constexpr uint32_t kTensorName = 8;
inline constexpr uint32_t kTensorRawData = 9;

// TensorProto.DataType
inline constexpr int32_t kFloat = 1;
inline constexpr int32_t kInt8 = 3;
inline constexpr int32_t kInt64 = 7;

// ValueInfoProto, TypeProto, TypeProto.Tensor, TensorShapeProto, TensorShapeProto.Dimension
inline constexpr uint32_t kValueInfoName = 1;
inline constexpr uint32_t kValueInfoType = 2;
inline constexpr uint32_t kTypeTensorType = 1;
inline constexpr uint32_t kTensorTypeElemType = 1;
inline constexpr uint32_t kTensorTypeShape = 2;
inline constexpr uint32_t kShapeDim = 1;
inline constexpr uint32_t kDimValue = 1;
inline constexpr uint32_t kDimParam = 2;

}  // namespace ko::onnx
