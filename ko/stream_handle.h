// The object behind a ko_stream handle, for the calls that wrap it and the benchmark that reads its
// session's render statistics.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ko/ko.h"
#include "ko/ko_a2x.h"
#include "utt/utt.h"

namespace ko {

struct SessionCloser {
  void operator()(ko_ctx* ctx) const { ko_destroy(ctx); }
};
struct FcaCloser {
  void operator()(ko_fca* fca) const { ko_fca_destroy(fca); }
};

}  // namespace ko

struct ko_stream {
  ko_stream(const char* bundle, const char* encoderPath, int threads, int32_t skipFrames, float deltaGain);

  std::unique_ptr<ko_ctx, ko::SessionCloser> ctx;
  std::unique_ptr<ko_fca, ko::FcaCloser> fca;
  std::vector<float> xs_target;
  int32_t NT, W, H, crop;
  int32_t skip;
  float gain;
  ko::utt::OfflineRunner runner;  // the ring of crops and the frame buffer every run reuses
};
