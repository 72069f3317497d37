// The graph subsystem's door: the library's own protocol-buffer codec for ONNX models (spans,
// readers, writers and the graph rebuild), the load-time rewrites written on it, and the custom
// operators they introduce.
#pragma once

#include "graph/compose_v2_splice.h"
#include "graph/cubic_taps.h"
#include "graph/custom_domain.h"
#include "graph/gridsample_rewrite.h"
#include "graph/head_cubic_resize.h"
#include "graph/int8_conv.h"
#include "graph/lip_bind.h"
#include "graph/node_retype.h"
#include "graph/onnx_attribute.h"
#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_view.h"
#include "graph/onnx_wire.h"
#include "graph/onnx_write.h"
#include "graph/rebuild.h"
#include "graph/resize_attrs.h"
#include "graph/sha256.h"
#include "graph/source_cone.h"
#include "graph/student_blend.h"
#include "graph/unread_initializers.h"
#include "graph/warp_director.h"
#include "graph/warp_rewrite.h"
