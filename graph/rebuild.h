// Re-emitting a model with its graph edited: nodes dropped, the "P_rgb" input dropped or kept alone,
// outputs dropped, one float tensor value added. Everything the edit does not touch is copied byte for
// byte; only the graph field is re-encoded, and it moves behind the model's other fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/onnx_wire.h"

namespace ko {

struct GsGraphEdit {
  // One flag per node in graph order; a non-zero flag removes the node, nodes past the end are kept.
  const std::vector<uint8_t>* nodeDrops = nullptr;
  bool dropPrgbInput = false;
  bool keepOnlyPrgbInput = false;
  bool dropOutputs = false;
  // A FLOAT tensor value to add (gsPutTensorValueInfo); a value_info of the same name is removed.
  const std::string* addName = nullptr;
  const int64_t* addDims = nullptr;
  size_t addRank = 0;
  uint32_t addField = 0;  // 11 input, 12 output, 0 nothing
};

// Writes the edited model into `out` (replacing its contents). Throws the wire format's errors on a
// malformed model or graph; `out` is then left unchanged.
void gsRebuild(GsSlice model, const GsGraphEdit& edit, std::vector<uint8_t>& out);

}  // namespace ko
