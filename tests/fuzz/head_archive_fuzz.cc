// libFuzzer target for the blend head's archive reader and the serving configuration: any bytes
// either load or fail with a "teeth: " sentence, never reading outside the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "tessera/head_weights.h"
#include "tessera/serve_config.h"

namespace {

void requireTeethSentence(const std::runtime_error& failure) {
  if (std::string_view(failure.what()).starts_with("teeth: ")) return;
  std::fprintf(stderr, "head reader failed outside its sentences: %s\n", failure.what());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const ko::tessera::HeadWeights weights = ko::tessera::loadHeadPt(bytes);
    if (weights.params() != 4082 && weights.params() != 3489) std::abort();
  } catch (const std::runtime_error& failure) {
    requireTeethSentence(failure);
  }
  try {
    ko::tessera::ServeConfig::fromHeadMemberJson(bytes);
  } catch (const std::runtime_error& failure) {
    requireTeethSentence(failure);
  }
  return 0;
}
