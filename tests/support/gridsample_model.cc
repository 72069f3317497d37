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
  return runSession(session, {{"X", {xShape, x}}, {"grid", {gridShape, grid}}}, {"Y"}).at(0).values;
}

}  // namespace ko::test
