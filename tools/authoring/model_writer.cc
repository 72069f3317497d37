#include "tools/authoring/model_writer.h"

#include <bit>
#include <stdexcept>

#include "graph/onnx_wire.h"
#include "graph/onnx_write.h"

namespace ko::authoring {
namespace {

// ModelProto.producer_name and GraphProto.name of every model written here.
const std::string kProducer = "ko tests";
const std::string kGraphName = "test_graph";
constexpr int64_t kDefaultOpset = 17;

void putLittleEndian(std::vector<uint8_t>& out, uint64_t bits, int bytes) {
  for (int index = 0; index < bytes; ++index) out.push_back(static_cast<uint8_t>(bits >> (8 * index)));
}

void putFloatField(std::vector<uint8_t>& buffer, uint32_t field, float value) {
  gsPutKey(buffer, field, kGsFixed32);
  putLittleEndian(buffer, std::bit_cast<uint32_t>(value), 4);
}

size_t elementCount(const std::vector<int64_t>& dims) {
  size_t count = 1;
  for (int64_t dim : dims) count *= static_cast<size_t>(dim);
  return count;
}

void checkCount(const std::vector<int64_t>& dims, size_t count) {
  if (count != elementCount(dims)) {
    throw std::invalid_argument("model writer: " + std::to_string(count) + " values for " +
                                std::to_string(elementCount(dims)) + " elements");
  }
}

std::vector<uint8_t> tensorBody(const TensorData& tensor, const std::string& name) {
  std::vector<uint8_t> body;
  for (int64_t dim : tensor.dims) gsPutVarintField(body, onnx::kTensorDims, static_cast<uint64_t>(dim));
  gsPutVarintField(body, onnx::kTensorDataType, static_cast<uint64_t>(tensor.elemType));
  if (!name.empty()) gsPutString(body, onnx::kTensorName, name);
  gsPutBytes(body, onnx::kTensorRawData, tensor.raw.data(), tensor.raw.size());
  return body;
}

std::vector<uint8_t> dimension(const Dim& dim) {
  std::vector<uint8_t> body;
  if (dim.value >= 0) gsPutVarintField(body, onnx::kDimValue, static_cast<uint64_t>(dim.value));
  if (!dim.param.empty()) gsPutString(body, onnx::kDimParam, dim.param);
  return body;
}

std::vector<uint8_t> valueInfoBody(const std::string& name, const std::vector<Dim>& shape, int32_t elemType) {
  std::vector<uint8_t> shapeBody;
  for (const Dim& dim : shape) gsPutMessage(shapeBody, onnx::kShapeDim, dimension(dim));
  return gsTensorValueInfoBody(name, elemType, shapeBody);
}

// An AttributeProto body begun with its name; the caller adds the value and the type.
std::vector<uint8_t> namedAttribute(const std::string& name) {
  std::vector<uint8_t> body;
  gsPutString(body, onnx::kAttrName, name);
  return body;
}

void closeAttribute(std::vector<uint8_t>& attributes, std::vector<uint8_t>& body, uint64_t type) {
  gsPutVarintField(body, onnx::kAttrType, type);
  gsPutMessage(attributes, onnx::kNodeAttribute, body);
}

}  // namespace

TensorData floatTensor(std::vector<int64_t> dims, const std::vector<float>& values) {
  checkCount(dims, values.size());
  TensorData tensor{onnx::kFloat, std::move(dims), {}};
  for (float value : values) putLittleEndian(tensor.raw, std::bit_cast<uint32_t>(value), 4);
  return tensor;
}

TensorData int8Tensor(std::vector<int64_t> dims, const std::vector<int8_t>& values) {
  checkCount(dims, values.size());
  TensorData tensor{onnx::kInt8, std::move(dims), {}};
  for (int8_t value : values) tensor.raw.push_back(static_cast<uint8_t>(value));
  return tensor;
}

TensorData int64Tensor(std::vector<int64_t> dims, const std::vector<int64_t>& values) {
  checkCount(dims, values.size());
  TensorData tensor{onnx::kInt64, std::move(dims), {}};
  for (int64_t value : values) putLittleEndian(tensor.raw, static_cast<uint64_t>(value), 8);
  return tensor;
}

ModelBuilder& ModelBuilder::irVersion(int64_t version) {
  irVersion_ = version;
  return *this;
}

ModelBuilder& ModelBuilder::opset(int64_t version, const std::string& domain) {
  opsets_.emplace_back(domain, version);
  return *this;
}

ModelBuilder& ModelBuilder::metadata(const std::string& key, const std::string& value) {
  std::vector<uint8_t> entry;
  gsPutString(entry, onnx::kEntryKey, key);
  gsPutString(entry, onnx::kEntryValue, value);
  gsPutMessage(metadata_, onnx::kModelMetadataProps, entry);
  return *this;
}

ModelBuilder& ModelBuilder::input(const std::string& name, const std::vector<Dim>& shape, int32_t elemType) {
  gsPutMessage(inputs_, onnx::kGraphInput, valueInfoBody(name, shape, elemType));
  return *this;
}

ModelBuilder& ModelBuilder::output(const std::string& name, const std::vector<Dim>& shape, int32_t elemType) {
  gsPutMessage(outputs_, onnx::kGraphOutput, valueInfoBody(name, shape, elemType));
  return *this;
}

ModelBuilder& ModelBuilder::valueInfo(const std::string& name, const std::vector<Dim>& shape,
                                      int32_t elemType) {
  gsPutMessage(valueInfos_, onnx::kGraphValueInfo, valueInfoBody(name, shape, elemType));
  return *this;
}

ModelBuilder& ModelBuilder::initializer(const std::string& name, const TensorData& value) {
  hcInit(initializers_, name, value.elemType, value.dims, value.raw.data(), value.raw.size());
  return *this;
}

ModelBuilder& ModelBuilder::node(const std::string& opType, const std::vector<std::string>& inputs,
                                 const std::vector<std::string>& outputs, const std::string& domain) {
  nodes_.push_back(Node{opType, domain, "", inputs, outputs, {}});
  return *this;
}

ModelBuilder& ModelBuilder::nodeName(const std::string& name) {
  lastNode().name = name;
  return *this;
}

ModelBuilder& ModelBuilder::intAttr(const std::string& name, int64_t value) {
  hcAttrI(lastNode().attributes, name, value);
  return *this;
}

ModelBuilder& ModelBuilder::floatAttr(const std::string& name, float value) {
  std::vector<uint8_t> body = namedAttribute(name);
  putFloatField(body, onnx::kAttrF, value);
  closeAttribute(lastNode().attributes, body, onnx::kAttrTypeFloat);
  return *this;
}

ModelBuilder& ModelBuilder::attr(const std::string& name, const std::string& value) {
  std::vector<uint8_t> body = namedAttribute(name);
  gsPutString(body, onnx::kAttrS, value);
  closeAttribute(lastNode().attributes, body, onnx::kAttrTypeString);
  return *this;
}

ModelBuilder& ModelBuilder::attr(const std::string& name, const TensorData& value) {
  std::vector<uint8_t> body = namedAttribute(name);
  gsPutMessage(body, onnx::kAttrT, tensorBody(value, ""));
  closeAttribute(lastNode().attributes, body, onnx::kAttrTypeTensor);
  return *this;
}

ModelBuilder& ModelBuilder::attrInts(const std::string& name, const std::vector<int64_t>& values) {
  hcAttrIs(lastNode().attributes, name, values.data(), values.size());
  return *this;
}

ModelBuilder& ModelBuilder::attrFloats(const std::string& name, const std::vector<float>& values) {
  std::vector<uint8_t> body = namedAttribute(name);
  for (float value : values) putFloatField(body, onnx::kAttrFloats, value);
  closeAttribute(lastNode().attributes, body, onnx::kAttrTypeFloats);
  return *this;
}

ModelBuilder::Node& ModelBuilder::lastNode() {
  if (nodes_.empty()) throw std::logic_error("model writer: an attribute or name needs a node before it");
  return nodes_.back();
}

std::vector<uint8_t> ModelBuilder::nodeBody(const Node& node) {
  std::vector<uint8_t> body;
  for (const std::string& input : node.inputs) gsPutString(body, onnx::kNodeInput, input);
  for (const std::string& output : node.outputs) gsPutString(body, onnx::kNodeOutput, output);
  if (!node.name.empty()) gsPutString(body, onnx::kNodeName, node.name);
  gsPutString(body, onnx::kNodeOpType, node.opType);
  gsPutRaw(body, node.attributes.data(), node.attributes.size());
  if (!node.domain.empty()) gsPutString(body, onnx::kNodeDomain, node.domain);
  return body;
}

std::vector<uint8_t> ModelBuilder::graphBody() const {
  std::vector<uint8_t> body;
  for (const Node& node : nodes_) gsPutMessage(body, onnx::kGraphNode, nodeBody(node));
  gsPutString(body, onnx::kGraphName, kGraphName);
  for (const std::vector<uint8_t>* part : {&initializers_, &inputs_, &outputs_, &valueInfos_}) {
    gsPutRaw(body, part->data(), part->size());
  }
  return body;
}

std::vector<uint8_t> ModelBuilder::bytes() const {
  std::vector<uint8_t> model;
  gsPutVarintField(model, onnx::kModelIrVersion, static_cast<uint64_t>(irVersion_));
  gsPutString(model, onnx::kModelProducerName, kProducer);
  gsPutMessage(model, onnx::kModelGraph, graphBody());
  std::vector<std::pair<std::string, int64_t>> opsets = opsets_;
  if (opsets.empty()) opsets.emplace_back("", kDefaultOpset);
  for (const auto& [domain, version] : opsets) {
    std::vector<uint8_t> body;
    if (!domain.empty()) gsPutString(body, onnx::kOpsetDomain, domain);
    gsPutVarintField(body, onnx::kOpsetVersion, static_cast<uint64_t>(version));
    gsPutMessage(model, onnx::kModelOpsetImport, body);
  }
  gsPutRaw(model, metadata_.data(), metadata_.size());
  return model;
}

}  // namespace ko::authoring
