// A readable way for tests and tools to declare a small ONNX graph and get the serialized ModelProto,
// written with the library's own codec:
//
//   ModelBuilder m;
//   m.opset(17)
//       .input("X", {1, 3, 4, 4})
//       .input("grid", {"N", 4, 4, 2})
//       .output("Y", {1, 3, 4, 4})
//       .node("GridSample", {"X", "grid"}, {"Y"})
//       .attr("mode", "bilinear")
//       .attr("align_corners", 0);
//   std::vector<uint8_t> bytes = m.bytes();
//
// attr*() applies to the node declared last. Fields come out in field-number order, as protobuf
// serializers write them, so the graph (field 7) precedes the opset imports (field 8).
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "graph/onnx_schema.h"

namespace ko::authoring {

// A tensor dimension: a fixed size, a symbolic name, or (a negative size) unknown. Implicit, so
// shapes read {1, "N", 64}.
struct Dim {
  template <std::integral T>
  Dim(T size) : value(static_cast<int64_t>(size)) {}
  Dim(const char* name) : value(-1), param(name) {}
  int64_t value = -1;
  std::string param;
};

// A tensor's element type, dims and little-endian contents (raw_data).
struct TensorData {
  int32_t elemType = onnx::kFloat;
  std::vector<int64_t> dims;
  std::vector<uint8_t> raw;
};

// Throw std::invalid_argument when the value count is not the product of the dims.
TensorData floatTensor(std::vector<int64_t> dims, const std::vector<float>& values);
TensorData int64Tensor(std::vector<int64_t> dims, const std::vector<int64_t>& values);
TensorData int8Tensor(std::vector<int64_t> dims, const std::vector<int8_t>& values);

class ModelBuilder {
 public:
  ModelBuilder& irVersion(int64_t version);
  // Imports `domain` (empty: the default ONNX domain) at `version`. Without any call the model
  // imports the default domain at opset 17.
  ModelBuilder& opset(int64_t version, const std::string& domain = "");
  // A metadata_props entry; entries come out in the order given.
  ModelBuilder& metadata(const std::string& key, const std::string& value);

  ModelBuilder& input(const std::string& name, const std::vector<Dim>& shape,
                      int32_t elemType = onnx::kFloat);
  ModelBuilder& output(const std::string& name, const std::vector<Dim>& shape,
                       int32_t elemType = onnx::kFloat);
  ModelBuilder& valueInfo(const std::string& name, const std::vector<Dim>& shape,
                          int32_t elemType = onnx::kFloat);
  ModelBuilder& initializer(const std::string& name, const TensorData& value);

  ModelBuilder& node(const std::string& opType, const std::vector<std::string>& inputs,
                     const std::vector<std::string>& outputs, const std::string& domain = "");
  ModelBuilder& nodeName(const std::string& name);

  template <std::integral T>
  ModelBuilder& attr(const std::string& name, T value) {
    return intAttr(name, static_cast<int64_t>(value));
  }
  template <std::floating_point T>
  ModelBuilder& attr(const std::string& name, T value) {
    return floatAttr(name, static_cast<float>(value));
  }
  ModelBuilder& attr(const std::string& name, const char* value) { return attr(name, std::string(value)); }
  ModelBuilder& attr(const std::string& name, const std::string& value);
  ModelBuilder& attr(const std::string& name, const TensorData& value);
  ModelBuilder& attrInts(const std::string& name, const std::vector<int64_t>& values);
  ModelBuilder& attrFloats(const std::string& name, const std::vector<float>& values);

  // The serialized ModelProto.
  std::vector<uint8_t> bytes() const;

 private:
  struct Node {
    std::string opType;
    std::string domain;
    std::string name;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<uint8_t> attributes;  // encoded AttributeProto fields
  };

  ModelBuilder& intAttr(const std::string& name, int64_t value);
  ModelBuilder& floatAttr(const std::string& name, float value);
  Node& lastNode();
  static std::vector<uint8_t> nodeBody(const Node& node);
  std::vector<uint8_t> graphBody() const;

  int64_t irVersion_ = 8;
  std::vector<std::pair<std::string, int64_t>> opsets_;
  std::vector<uint8_t> metadata_;  // encoded metadata_props fields
  std::vector<uint8_t> inputs_;
  std::vector<uint8_t> outputs_;
  std::vector<uint8_t> valueInfos_;
  std::vector<uint8_t> initializers_;
  std::vector<Node> nodes_;
};

}  // namespace ko::authoring
