// libFuzzer target for the bank track decode from memory: any bytes decode into exactly the bank's
// size or fail with one sentence, with every FFmpeg object released (LeakSanitizer checks).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "tessera/bank_track.h"

namespace {

// The seeds' geometry: 4 donors of 28 x 16, stored in reverse order.
constexpr int32_t kDonors = 4, kBandH = 16, kBandW = 28;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<int32_t> order = {3, 2, 1, 0};
  try {
    const std::vector<uint8_t> bands =
        ko::tessera::decodeBankTrack(data, size, kDonors, kBandH, kBandW, order);
    if (bands.size() != static_cast<size_t>(kDonors) * kBandH * kBandW * 3) {
      std::fprintf(stderr, "bank decode returned %zu bytes\n", bands.size());
      std::abort();
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
