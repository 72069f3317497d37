#include "tools/authoring/compose_tail.h"

namespace ko::authoring {
namespace {

std::vector<float> pixelCentres(int side) {
  std::vector<float> centres;
  for (int i = 0; i < side; ++i) centres.push_back((2.0f * static_cast<float>(i) + 1.0f) / side - 1.0f);
  return centres;
}

// One coordinate of the lip rows' mean, as [B, 1, 1, 1]; `axis` 0 is x, 1 is y.
std::string lipCentre(ModelBuilder& m, int axis) {
  const std::string name = axis == 0 ? "lip_cx" : "lip_cy";
  const std::string start = name + "_start", end = name + "_end";
  m.initializer(start, int64Tensor({1}, {axis}))
      .initializer(end, int64Tensor({1}, {axis + 1}))
      .node("Slice", {"lip_centre", start, end, "compose_xyz_axis"}, {name})
      .node("Reshape", {name, "compose_scalar_shape"}, {name + "4"});
  return name + "4";
}

// ((coordinate - centre) / radius)^2 along one axis, broadcast over the other.
std::string squaredOffset(ModelBuilder& m, const std::string& coordinates, const std::string& centre,
                          const std::string& inverseRadius) {
  const std::string offset = coordinates + "_offset", scaled = coordinates + "_scaled";
  m.node("Sub", {coordinates, centre}, {offset})
      .node("Mul", {offset, inverseRadius}, {scaled})
      .node("Mul", {scaled, scaled}, {coordinates + "_sq"});
  return coordinates + "_sq";
}

}  // namespace

std::string addComposeTail(ModelBuilder& m, const ComposeTail& tail, const std::string& kd,
                           const std::string& mouth, const std::string& base) {
  const auto rows = static_cast<int64_t>(tail.lipRows.size());
  m.initializer("lip_rows", int64Tensor({rows}, tail.lipRows))
      .initializer("compose_xyz_axis", int64Tensor({1}, {2}))
      .initializer("compose_scalar_shape", int64Tensor({4}, {-1, 1, 1, 1}))
      .initializer("compose_xs", floatTensor({1, 1, 1, tail.crop}, pixelCentres(tail.crop)))
      .initializer("compose_ys", floatTensor({1, 1, tail.crop, 1}, pixelCentres(tail.crop)))
      .initializer("compose_inv_rx", floatTensor({1}, {1.0f / tail.radiusX}))
      .initializer("compose_inv_ry", floatTensor({1}, {1.0f / tail.radiusY}))
      .initializer("compose_gain", floatTensor({1}, {tail.edgeGain}))
      .node("Gather", {kd, "lip_rows"}, {"lip_kp"})
      .attr("axis", 1)
      .node("ReduceMean", {"lip_kp"}, {"lip_centre"})
      .attrInts("axes", {1})
      .attr("keepdims", 1);
  const std::string qx = squaredOffset(m, "compose_xs", lipCentre(m, 0), "compose_inv_rx");
  const std::string qy = squaredOffset(m, "compose_ys", lipCentre(m, 1), "compose_inv_ry");
  m.node("Add", {qx, qy}, {"compose_q"})
      .node("Sub", {"one", "compose_q"}, {"compose_inside"})
      .node("Mul", {"compose_inside", "compose_gain"}, {"compose_field"})
      .node("Clip", {"compose_field", "zero", "one"}, {"compose_alpha"})
      .node("Mul", {"compose_alpha", mouth}, {"compose_mouth"})
      .node("Sub", {"one", "compose_alpha"}, {"compose_rest"})
      .node("Mul", {"compose_rest", base}, {"compose_base"})
      .node("Add", {"compose_mouth", "compose_base"}, {"composed"});
  return "composed";
}

}  // namespace ko::authoring
