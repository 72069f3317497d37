// The load-time replacement of the head's ×2 bicubic Resize, which ONNX Runtime executes slowly on
// CPU-class providers, by standard operators every execution provider runs well: Pad (edge), a
// depthwise 5×5 Conv computing the four polyphase outputs, and DepthToSpace. The chain computes the
// same filter to single-precision round-off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ko {

// Replaces the graph's Resize when it is the only node that qualifies: default domain, mode "cubic",
// coordinate_transformation_mode "half_pixel", no axes, exclude_outside and antialias 0,
// keep_aspect_ratio_policy "stretch" or unset, inputs X, an empty roi and a constant scales
// initializer of 1, 1, 2, 2, one output. Its output must feed exactly one input, the X of a Conv whose
// float weight initializer gives the channel count (at most 1,048,576), and the new names
// "rz<position>_pads", "_dw_w", "_padout" and "_convout" must be free in the graph. Returns 1 when it
// replaced the node, else 0 with `model` untouched, as it also stays when malformed bytes throw the
// wire format's errors (graph/onnx_wire.h).
size_t rewriteHeadCubicResize(std::vector<uint8_t>& model);

}  // namespace ko
