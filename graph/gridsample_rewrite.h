// The load-time swap of standard GridSample nodes for the library's GridSampleFast, and the check for
// a model that arrives with GridSampleFast already in its graph. A model holding GridSampleFast loads
// only in a session given registerGridSampleFast (graph/custom_domain.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "graph/onnx_wire.h"

namespace ko {

// True for a NodeProto (its payload) that GridSampleFast computes exactly: op_type "GridSample" in the
// default domain, mode "bilinear" or "linear" and padding_mode "border" both stated, align_corners
// absent or 0. A node stating one of the three attributes twice is left alone.
bool gsIsRewritableGridSample(GsSlice node);

// True when the model imports the "com.quandrel" domain (an opset_import naming it).
bool gsImportsQuandrelDomain(GsSlice model);

// Appends an opset_import of "com.quandrel" at version 1 to a serialized model.
void gsPutQuandrelImport(std::vector<uint8_t>& model);

// True when the model's graph holds a node of op_type "GridSampleFast" in the domain "com.quandrel".
// Malformed bytes throw the wire format's errors (graph/onnx_wire.h).
bool graphHasBakedGridSampleFast(const std::vector<uint8_t>& model);

// Replaces every rewritable GridSample node of the graph by GridSampleFast of "com.quandrel" (inputs,
// outputs, name and every other field kept, the attributes dropped) and imports that domain at
// version 1 unless the model already does. Returns the number of nodes rewritten; with none, or when
// the wire format's errors are thrown on malformed bytes, `model` is left as it was.
size_t rewriteGridSampleToFast(std::vector<uint8_t>& model);

}  // namespace ko
