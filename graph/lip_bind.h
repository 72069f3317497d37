// Binding the identity's rasterised lip contour to the director's compose alpha at load time: the
// graph gains an input "lip_delivery" and a Min node that shrinks the alpha its compose tail generates
// to the contour, so the renderer can feed the contour on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/onnx_wire.h"

namespace ko {

inline constexpr char kLipInputName[] = "lip_delivery";
inline constexpr char kLipMinName[] = "tessera_lipdel_min";
inline constexpr char kLipShrunkName[] = "tessera_lipdel_alpha";

// The compose alpha of a director graph: the value its unified compose tail
// Add(Mul(alpha, A), Mul(Sub(1, alpha), B)) blends with, the index of the node producing it, and the
// square canvas side and batch the lip contour is delivered at (batch 0: not stated by the graph).
struct ComposeAlpha {
  std::string name;
  size_t producer = 0;
  int64_t side = 0;
  int64_t batch = 0;
};

// Finds the compose alpha of `model`'s graph. False with `reason` when the model has no graph, already
// carries a "lip_delivery" input, has no compose tail or states no canvas. Malformed bytes throw the
// wire format's errors (graph/onnx_wire.h).
bool findComposeAlpha(GsSlice model, ComposeAlpha& alpha, std::string& reason);

// Appends `node` (a NodeProto payload) to `graph` as a node field, every input named `from` renamed
// `to` and every other field as it stood.
void gsPutNodeRewired(std::vector<uint8_t>& graph, GsSlice node, const std::string& from,
                      const std::string& to);

// Adds the "lip_delivery" input [batch, 1, side, side] and the node "tessera_lipdel_min" =
// Min(alpha, "lip_delivery") after the alpha's producer, and makes every other reader of the alpha
// read the Min's output "tessera_lipdel_alpha". True when the rebuilt model passed its self-check:
// `model` then holds it and the canvas side and batch go to the outs. False with `reason` otherwise,
// `model` untouched. `reason` is cleared and both outs (either may be null) are set to 0 on entry;
// malformed bytes throw the wire format's errors.
bool rewriteBindLipContour(std::vector<uint8_t>& model, std::string& reason, int32_t* canvas, int32_t* batch);

}  // namespace ko
