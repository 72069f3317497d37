// libFuzzer target for the strict base64 decoder and the compose-v2 entry reader. Strictness means
// exactly one text per byte string: whatever decodes must re-encode to the very same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tessera/base64.h"
#include "tessera/compose_v2_template.h"

namespace {

void require(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "compose-v2 invariant broken: %s\n", invariant);
  std::abort();
}

std::string encode(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = (group << 8) | (k < n ? bytes[i + k] : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> decoded;
  std::string error;
  if (ko::tessera::decodeBase64Strict(text, decoded, error)) {
    require(encode(decoded) == text, "decoded bytes re-encode to the text");
  } else {
    require(!error.empty() && decoded.empty(), "a refusal names itself and delivers nothing");
  }
  std::vector<uint8_t> structure;
  std::string source;
  std::string digest;
  error.clear();
  const int result =
      ko::tessera::composeV2StructureFromTemplate(text, "director.onnx", structure, source, error, &digest);
  require(result >= -1 && result <= 1, "result is -1, 0 or 1");
  require((result == -1) == !error.empty(), "an error exactly when invalid");
  if (result == 1) {
    require(!structure.empty() && source.size() == 64 && digest.size() == 64, "a found entry is complete");
  }
  return 0;
}
