// libFuzzer target for the teeth subsystem's JSON reader: any bytes either parse or fail with one of
// the reader's own messages, and the cursor never leaves the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "tessera/json.h"

namespace {

bool isReaderError(const char* text) {
  for (const char* known : {"teeth: JSON truncated", "teeth: bad JSON number", "teeth: malformed JSON array",
                            "teeth: malformed JSON object", "teeth: JSON nested too deeply"}) {
    if (std::strcmp(text, known) == 0) return true;
  }
  return false;
}

void require(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "JSON reader invariant broken: %s\n", invariant);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  ko::tessera::json::JParser parser(begin, begin + size);
  try {
    parser.val();
    require(parser.cursor() > begin && parser.cursor() <= begin + size,
            "cursor inside the input after a value");
  } catch (const std::runtime_error& failure) {
    require(isReaderError(failure.what()), "only the reader's own messages leave it");
  }
  try {
    ko::tessera::json::parseJson(std::string_view(begin, size), "fuzz");
  } catch (const std::runtime_error& failure) {
    require(std::strncmp(failure.what(), "teeth: fuzz is not readable JSON: teeth: ", 41) == 0,
            "parseJson wraps failures with its label");
  }
  return 0;
}
