// The compose-v2 graph fragment a lip template may carry per director graph, base64-encoded with the
// digests the splice checks it against.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ko::tessera {

// 1: the entry for `graphKey` is present and well formed (structure, digests delivered);
// 0: the template has no compose_v2 block or no entry for this graph; -1: invalid, reason in `error`.
// `structureSha256` may be null.
int composeV2StructureFromTemplate(std::string_view text, const std::string& graphKey,
                                   std::vector<uint8_t>& structure, std::string& sourceSha256,
                                   std::string& error, std::string* structureSha256);

}  // namespace ko::tessera
