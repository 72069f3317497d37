// The graph subsystem's door: what a renderer does to a director's graph at load time. Each rewrite
// takes the serialized model and either rewrites it in place or declines, leaving the bytes as they
// were; the custom operators some rewrites introduce register on a session's options. The codec the
// rewrites are written on (graph/onnx_*.h, graph/rebuild.h) stays behind this door: tools and tests
// that author or inspect models include it directly.
#pragma once

#include "graph/compose_v2_splice.h"    // IWYU pragma: export
#include "graph/custom_domain.h"        // IWYU pragma: export
#include "graph/gridsample_rewrite.h"   // IWYU pragma: export
#include "graph/head_cubic_resize.h"    // IWYU pragma: export
#include "graph/lip_bind.h"             // IWYU pragma: export
#include "graph/source_cone.h"          // IWYU pragma: export
#include "graph/student_blend.h"        // IWYU pragma: export
#include "graph/unread_initializers.h"  // IWYU pragma: export
#include "graph/warp_rewrite.h"         // IWYU pragma: export
