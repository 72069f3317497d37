// Splicing a compose v2 structure into the director graph it was built for. A lip template carries,
// per director graph (the "member"), a complete model whose graph is the compose-v2 graph, every node
// unchanged from the member standing as a placeholder that names the member node by index. The splice
// checks that the structure belongs to exactly these member bytes, puts the member's own nodes in
// place of the placeholders and carries over the member initializers the result reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graph/onnx_wire.h"

namespace ko {

inline constexpr char kCv2MemberDomain[] = "ai.quandrel.compose_v2";
inline constexpr char kCv2MemberOpType[] = "MemberNode";
// The structure's metadata key naming the SHA-256 of the member bytes it was built for.
inline constexpr char kCv2SourceKey[] = "compose_v2.source_sha256";

// A structure node as the splice reads it.
struct Cv2Node {
  GsSlice raw;  // the whole node field, key and length included
  bool placeholder = false;
  bool hasK = false;
  int64_t k = -1;  // the member node's index, from the last integer attribute named "k"
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
};

// Reads a node field (its raw span). Malformed bytes throw the wire format's errors.
Cv2Node cv2ReadNode(GsSlice raw);

// Splices `structure` into `member`. True when the result passed its self-check: `member` then holds
// it, and the outs receive the last and first dims of its "lip_delivery" input (0 for one without a
// value). False with `reason` otherwise, `member` untouched; a malformed model of either kind is
// refused, not thrown. `reason` is cleared and both outs (either may be null) are set to 0 on entry.
// An empty expected digest skips the check that uses it; the member's own digest is always checked.
bool spliceComposeV2(std::vector<uint8_t>& member, const std::vector<uint8_t>& structure, std::string& reason,
                     const std::string& expectedSourceSha256, int32_t* canvas, int32_t* batch,
                     const std::string& expectedStructureSha256);

}  // namespace ko
