// Authoring the compose v2 structure a lip template carries for a director graph (the "member"): the
// member's graph with every node standing as a placeholder, the lip contour input "lip_delivery" and a
// Min that shrinks the compose alpha to it, so that the splice computes what the load-time bind does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/authoring/lip_template.h"

namespace ko::authoring {

// The structure for `member`: a placeholder per member node (named "member_<k>"), except that the
// readers of the compose alpha stand as themselves reading the Min's output; the member's inputs plus
// "lip_delivery" [batch, 1, side, side], its outputs, no initializers, its IR version and opset imports,
// and the member's SHA-256 under "compose_v2.source_sha256". Throws std::invalid_argument when the
// member carries no compose tail to bind.
std::vector<uint8_t> composeV2Structure(const std::vector<uint8_t>& member);

// The lip template's compose_v2 entry for `member` stored as `graphKey`: composeV2Structure(member) in
// base64, with the member's and the structure's own digests.
ComposeV2Graph composeV2Entry(const std::vector<uint8_t>& member, const std::string& graphKey);

}  // namespace ko::authoring
