#include "tests/support/warp_block_model.h"

#include <array>

#include "graph/warp_director.h"
#include "tests/support/authoring.h"

namespace ko::test {
namespace {

// Depthwise 3x3 kernels, one per colour: [3, 1, 3, 3].
TensorData depthwise(const std::array<float, 9>& taps) {
  std::vector<float> values;
  for (int colour = 0; colour < 3; ++colour) values.insert(values.end(), taps.begin(), taps.end());
  return floatTensor({3, 1, 3, 3}, values);
}

void addCone(ModelBuilder& m, const WarpBlockOptions& o) {
  m.initializer("pads", int64Tensor({8}, {0, 0, 1, 1, 0, 0, 1, 1}))
      .initializer("k_xx", depthwise({0, 0, 0, 1, -2, 1, 0, 0, 0}))
      .initializer("k_yy", depthwise({0, 1, 0, 0, -2, 0, 0, 1, 0}))
      .initializer("k_xxyy", depthwise({1, -2, 1, -2, 4, -2, 1, -2, 1}))
      .node("Pad", {"P_rgb", "pads"}, {"padded"})
      .attr("mode", "edge");
  for (const char* kind : {"xx", "yy", "xxyy"}) {
    m.node("Conv", {"padded", std::string("k_") + kind}, {std::string("d_") + kind}).attr("group", 3);
  }
  m.node("Concat", {"P_rgb", "d_xx", "d_yy", "d_xxyy"}, {kWarpTip}).attr("axis", 1);
  if (o.twoConcats) m.node("Concat", {"P_rgb", "d_xx"}, {"other_concat"}).attr("axis", 1);
}

// cx or cy of the operator's definition from one grid coordinate [N, 1, H, W] and the side length.
void addCorrection(ModelBuilder& m, const std::string& axis, const std::string& size) {
  const auto v = [&](const char* step) { return axis + "_" + step; };
  m.node("Add", {"one", "g" + axis}, {v("shifted")})
      .node("Mul", {v("shifted"), size}, {v("scaled")})
      .node("Sub", {v("scaled"), "one"}, {v("less")})
      .node("Mul", {v("less"), "half"}, {v("pos")})
      .node("Floor", {v("pos")}, {v("floor")})
      .node("Sub", {v("pos"), v("floor")}, {v("fr")})
      .node("Sub", {"one", v("fr")}, {v("rest")})
      .node("Mul", {v("rest"), v("fr")}, {v("prod")})
      .node("Mul", {v("prod"), "half"}, {"c" + axis});
}

void addGridAndCorrections(ModelBuilder& m, const WarpBlockOptions& o) {
  m.initializer("one", floatTensor({1}, {1.0f}))
      .initializer("half", floatTensor({1}, {0.5f}))
      .initializer("size_w", floatTensor({1}, {static_cast<float>(o.width)}))
      .initializer("size_h", floatTensor({1}, {static_cast<float>(o.height)}))
      .initializer("s_x", int64Tensor({1}, {0}))
      .initializer("s_y", int64Tensor({1}, {1}))
      .initializer("e_y", int64Tensor({1}, {2}))
      .initializer("axis1", int64Tensor({1}, {1}))
      .node("Identity", {"grid_in"}, {kWarpGrid})
      .node("Transpose", {kWarpGrid}, {"grid_planes"})
      .attrInts("perm", {0, 3, 1, 2})
      .node("Slice", {"grid_planes", "s_x", "s_y", "axis1"}, {"gx"})
      .node("Slice", {"grid_planes", "s_y", "e_y", "axis1"}, {"gy"});
  addCorrection(m, "x", "size_w");
  addCorrection(m, "y", "size_h");
}

void addBlock(ModelBuilder& m, const WarpBlockOptions& o) {
  const std::string grid = o.gridWithoutProducer ? "grid_in" : kWarpGrid;
  m.node(o.gridSampleOp, {kWarpTip, grid}, {"sampled"},
         std::string(o.gridSampleOp) == "GridSampleFast" ? "com.quandrel" : "");
  if (std::string(o.gridSampleOp) == "GridSample") {
    m.attr("mode", "bilinear").attr("padding_mode", o.padding).attr("align_corners", 0);
  }
  if (o.twoGridSamples) {
    m.node("GridSample", {kWarpTip, grid}, {"Z"})
        .attr("mode", "bilinear")
        .attr("padding_mode", "border")
        .attr("align_corners", 0);
  }
  const std::array<const char*, 4> parts{"F", "Fxx", "Fyy", "Fxxyy"};
  for (size_t part = 0; part < parts.size(); ++part) {
    const std::string start = "start" + std::to_string(part);
    const std::string end = "end" + std::to_string(part);
    m.initializer(start, int64Tensor({1}, {static_cast<int64_t>(3 * part)}))
        .initializer(end, int64Tensor({1}, {static_cast<int64_t>(3 * part + 3)}))
        .node("Slice", {"sampled", start, end, "axis1"}, {parts[part]});
  }
  m.node("Mul", {"cx", "cy"}, {"cxy"})
      .node("Mul", {"cx", "Fxx"}, {"a"})
      .node("Sub", {"F", "a"}, {"b"})
      .node("Mul", {"cy", "Fyy"}, {"c"})
      .node("Sub", {"b", "c"}, {"d"})
      .node("Mul", {"cxy", "Fxxyy"}, {"e"})
      .node("Add", {"d", "e"}, {o.bare ? "Y" : kWarpExit});
  if (o.twoExits) m.node("Relu", {"b"}, {"Z"});
}

}  // namespace

std::vector<uint8_t> warpBlockModel(const WarpBlockOptions& o) {
  const Dim n = o.batch, h = o.height, w = o.width;
  ModelBuilder m;
  m.opset(16).input("P_rgb", {n, 3, h, w});
  if (o.bare) {
    m.input(kWarpGrid, {n, h, w, 2}).input("cx", {n, 1, h, w}).input("cy", {n, 1, h, w});
  } else {
    m.input("grid_in", {n, h, w, 2});
  }
  m.output("Y", {n, 3, h, w});
  if (o.twoGridSamples || o.tipReadElsewhere || o.sampledReadElsewhere) m.output("Z", {n, 12, h, w});
  if (o.twoExits || o.prgbReadElsewhere) m.output("Z", {n, 3, h, w});
  addCone(m, o);
  if (!o.bare) addGridAndCorrections(m, o);
  if (o.bare) m.initializer("axis1", int64Tensor({1}, {1}));
  addBlock(m, o);
  if (!o.bare) m.node("Relu", {kWarpExit}, {"Y"});
  if (o.prgbReadElsewhere) m.node("Relu", {"P_rgb"}, {"Z"});
  if (o.tipReadElsewhere) m.node("Relu", {kWarpTip}, {"Z"});
  if (o.sampledReadElsewhere) m.node("Relu", {"sampled"}, {"Z"});
  if (std::string(o.gridSampleOp) == "GridSampleFast") m.opset(1, "com.quandrel");
  return m.bytes();
}

std::vector<uint8_t> warpDirectorModel() {
  ModelBuilder m;
  m.opset(16)
      .opset(1, "com.quandrel")
      .input("S", {"N", "C", "H", "W"})
      .input("grid", {"N", "H", "W", "K"})
      .output("Y", {"N", "C", "H", "W"})
      .node("WarpDirector", {"S", "grid"}, {"Y"}, "com.quandrel");
  return m.bytes();
}

std::vector<float> warpEveryImage(const FloatTensor& source, const FloatTensor& grid) {
  const auto h = static_cast<int32_t>(source.shape.at(2)), w = static_cast<int32_t>(source.shape.at(3));
  const size_t pixels = static_cast<size_t>(h) * static_cast<size_t>(w);
  std::vector<float> out(source.values.size());
  for (size_t n = 0; n < static_cast<size_t>(source.shape.at(0)); ++n) {
    warpDirector(source.values.data() + n * 3 * pixels, grid.values.data() + n * 2 * pixels,
                 out.data() + n * 3 * pixels, w, h);
  }
  return out;
}

FloatTensor runWarpDirector(Ort::Session& session, const FloatTensor& source, const FloatTensor& grid) {
  return runSession(session, {{"S", source}, {"grid", grid}}, {"Y"}).at(0);
}

}  // namespace ko::test
