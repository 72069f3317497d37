// The graph subsystem's door: the library's own protocol-buffer codec for ONNX models (spans,
// readers, writers and the graph rebuild) and the load-time rewrites written on it.
#pragma once

#include "graph/gridsample_rewrite.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_wire.h"
#include "graph/onnx_write.h"
#include "graph/rebuild.h"
