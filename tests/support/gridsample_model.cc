#include "tests/support/gridsample_model.h"

#include <array>

#include "tests/support/authoring.h"

namespace ko::test {

std::vector<uint8_t> gridSampleModel(GridSampleNode node) {
  ModelBuilder model;
  model.opset(16)
      .input("X", {"N", "C", "H", "W"})
      .input("grid", {"N", "H", "W", "K"})
      .output("Y", {"N", "C", "H", "W"});
  if (node == GridSampleNode::fast) {
    model.opset(1, "com.quandrel").node("GridSampleFast", {"X", "grid"}, {"Y"}, "com.quandrel");
  } else {
    model.node("GridSample", {"X", "grid"}, {"Y"})
        .attr("mode", "bilinear")
        .attr("padding_mode", "border")
        .attr("align_corners", 0);
  }
  return model.bytes();
}

std::vector<float> runGridSample(Ort::Session& session, const std::vector<float>& x,
                                 const std::vector<int64_t>& xShape, const std::vector<float>& grid,
                                 const std::vector<int64_t>& gridShape) {
  const auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  // ONNX Runtime only reads an input, whatever the pointer's constness says.
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
