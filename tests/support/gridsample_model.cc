#include "tests/support/gridsample_model.h"

#include <array>

namespace ko::test {
namespace {

// Protobuf wire format, the two wire types an ONNX graph of this size needs.
class Message {
 public:
  Message& varint(uint32_t field, uint64_t value) {
    key(field, 0);
    return raw(value);
  }
  Message& bytes(uint32_t field, const std::string& value) {
    key(field, 2);
    raw(value.size());
    bytes_ += value;
    return *this;
  }
  Message& message(uint32_t field, const Message& value) { return bytes(field, value.bytes_); }
  const std::string& encoded() const { return bytes_; }

 private:
  void key(uint32_t field, uint32_t wireType) { raw(uint64_t{field} << 3 | wireType); }
  Message& raw(uint64_t value) {
    for (; value >= 0x80; value >>= 7) bytes_ += static_cast<char>(value | 0x80);
    bytes_ += static_cast<char>(value);
    return *this;
  }
  std::string bytes_;
};

constexpr uint64_t kFloatTensor = 1;
constexpr uint64_t kIntAttribute = 2;
constexpr uint64_t kStringAttribute = 3;

// ValueInfoProto of a float tensor whose four dimensions are named, not fixed.
Message floatTensor(const std::string& name) {
  Message shape;
  for (const char* dim : {"d0", "d1", "d2", "d3"}) shape.message(1, Message().bytes(2, name + dim));
  const Message tensor = Message().varint(1, kFloatTensor).message(2, shape);
  return Message().bytes(1, name).message(2, Message().message(1, tensor));
}

Message stringAttribute(const std::string& name, const std::string& value) {
  return Message().bytes(1, name).bytes(4, value).varint(20, kStringAttribute);
}

Message gridSampleNode(GridSampleNode node) {
  Message proto;
  proto.bytes(1, "X").bytes(1, "grid").bytes(2, "Y").bytes(3, "sample");
  if (node == GridSampleNode::fast) return proto.bytes(4, "GridSampleFast").bytes(7, "com.quandrel");
  return proto.bytes(4, "GridSample")
      .message(5, stringAttribute("mode", "bilinear"))
      .message(5, stringAttribute("padding_mode", "border"))
      .message(5, Message().bytes(1, "align_corners").varint(3, 0).varint(20, kIntAttribute));
}

Message opset(const std::string& domain, uint64_t version) {
  return Message().bytes(1, domain).varint(2, version);
}

}  // namespace

std::string gridSampleModel(GridSampleNode node) {
  Message graph;
  graph.message(1, gridSampleNode(node)).bytes(2, "grid_sample");
  graph.message(11, floatTensor("X")).message(11, floatTensor("grid")).message(12, floatTensor("Y"));
  Message model;
  model.varint(1, 8).message(7, graph).message(8, opset("", 16));
  if (node == GridSampleNode::fast) model.message(8, opset("com.quandrel", 1));
  return model.encoded();
}

Ort::Env& ortEnv() {
  static Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "ko_test");
  return env;
}

std::vector<float> runGridSample(Ort::Session& session, const std::vector<float>& x,
                                 const std::vector<int64_t>& xShape, const std::vector<float>& grid,
                                 const std::vector<int64_t>& gridShape) {
  const auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::array<Ort::Value, 2> inputs{
      Ort::Value::CreateTensor<float>(memory, const_cast<float*>(x.data()), x.size(), xShape.data(),
                                      xShape.size()),
      Ort::Value::CreateTensor<float>(memory, const_cast<float*>(grid.data()), grid.size(), gridShape.data(),
                                      gridShape.size())};
  const std::array<const char*, 2> inputNames{"X", "grid"};
  const char* outputName = "Y";
  std::vector<Ort::Value> outputs =
      session.Run(Ort::RunOptions(), inputNames.data(), inputs.data(), inputs.size(), &outputName, 1);
  const float* y = outputs[0].GetTensorData<float>();
  return {y, y + outputs[0].GetTensorTypeAndShapeInfo().GetElementCount()};
}

}  // namespace ko::test
