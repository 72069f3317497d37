// The load-time normalisation of the student network's blend MatMul into a Gemm, which every execution
// provider runs: for two-dimensional operands Gemm's defaults (alpha 1, beta 1, no transposes, no C)
// compute exactly the matrix product.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "graph/onnx_wire.h"

namespace ko {

// True for a NodeProto (its payload) of op_type "MatMul" named "/s2/blend" with exactly two inputs, in
// the default domain (absent, empty or "ai.onnx"). Malformed bytes throw the wire format's errors.
bool gsIsStudentBlendMatMul(GsSlice node);

// Turns every such node into a Gemm (all its other fields kept, op_type "Gemm", default domain) and
// returns how many. A node whose operand or result the graph declares with a rank other than 2 stays
// a MatMul, as does every node of a model importing the default domain below version 11 (Gemm needs
// its third input there): Gemm would refuse either. With nothing converted, or when malformed bytes
// throw the wire format's errors (graph/onnx_wire.h), `model` is left as it was.
size_t normaliseStudentBlend(std::vector<uint8_t>& model);

}  // namespace ko
