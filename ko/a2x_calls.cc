// The exported a2x calls: a flat C face over ko::A2xStream.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "audio/audio.h"
#include "ko/ko_a2x.h"
#include "ko/last_error.h"
#include "pool/pool.h"

struct ko_a2x {
  ko_a2x(const char* bundle, int threads) : stream(bundle, threads) {}
  ko::A2xStream stream;
};

namespace {

using ko::ErrorFamily;

constexpr ErrorFamily kFamily = ErrorFamily::A2x;

// The network work of avail and pull never fails the call; its failure is the thread's text.
void reportExtendFailure(ko::A2xStream& stream) {
  if (stream.extendFailure.empty()) return;
  ko::setLastError(kFamily, "ko_a2x extend", stream.extendFailure.c_str());
  stream.extendFailure.clear();
}

int clampCount(int64_t count) {
  return static_cast<int>(std::clamp<int64_t>(count, INT32_MIN, INT32_MAX));
}

int pullFrames(const char* call, ko_a2x* handle, int* idx, float* xs, float* kp, float* wn, int max,
               bool wantWn) {
  return ko::clearedCall(kFamily, call, 0, [&] {
    if (!handle || (max > 0 && (!idx || !xs || !kp || (wantWn && !wn)))) {
      throw std::invalid_argument(wantWn ? "NULL stream/idx/xs/kp/wn" : "NULL stream/idx/xs/kp");
    }
    const int64_t written = handle->stream.pull(idx, xs, kp, wn, max);
    reportExtendFailure(handle->stream);
    return clampCount(written);
  });
}

int wholeUtterance(const char* call, ko_a2x* handle, const float* samples, int count, float* out,
                   float* wnOut, int maxFrames, bool wantWn) {
  return ko::clearedCall(kFamily, call, -1, [&] {
    if (!handle || (count > 0 && (!samples || !out || (wantWn && !wnOut)))) {
      throw std::invalid_argument(wantWn ? "NULL stream/samples/out/wn_out" : "NULL stream/samples/out");
    }
    if (wantWn && !handle->stream.hasWn()) {
      ko::setLastError(kFamily, call, "encoder declares no wn output");
      return -3;
    }
    const int64_t frames = handle->stream.deltas(samples, count, out, maxFrames);
    if (wantWn && frames > 0) {
      const std::vector<float>& wn = handle->stream.utteranceWn();
      for (int64_t f = 0; f < frames; ++f) wnOut[f] = f < static_cast<int64_t>(wn.size()) ? wn[f] : 0.0f;
    }
    return clampCount(frames);
  });
}

}  // namespace

extern "C" {

KO_API ko_a2x* ko_a2x_create(const char* bundle, int threads) {
  return ko::clearedCall(kFamily, "ko_a2x_create", static_cast<ko_a2x*>(nullptr), [&] {
    if (!bundle) throw std::invalid_argument("NULL bundle");
    return new ko_a2x(bundle, threads);
  });
}

KO_API int ko_a2x_push(ko_a2x* stream, const float* samples, int count) {
  return ko::clearedCall(kFamily, "ko_a2x_push", 0, [&] {
    if (!stream || (count > 0 && !samples)) throw std::invalid_argument("NULL stream/samples");
    stream->stream.push(samples, count);
    return 1;
  });
}

KO_API int ko_a2x_finish(ko_a2x* stream) {
  return ko::clearedCall(kFamily, "ko_a2x_finish", 0, [&] {
    if (!stream) throw std::invalid_argument("NULL stream");
    stream->stream.finish();
    return 1;
  });
}

KO_API int ko_a2x_total(const ko_a2x* stream) {
  return ko::clearedCall(kFamily, "ko_a2x_total", -1, [&] {
    if (!stream) throw std::invalid_argument("NULL stream");
    return clampCount(stream->stream.total());
  });
}

KO_API int ko_a2x_avail(ko_a2x* stream) {
  return ko::clearedCall(kFamily, "ko_a2x_avail", 0, [&] {
    if (!stream) throw std::invalid_argument("NULL stream");
    const int64_t ready = stream->stream.avail();
    reportExtendFailure(stream->stream);
    return clampCount(ready);
  });
}

KO_API int ko_a2x_pull(ko_a2x* stream, int* idx, float* xs, float* kp, int max) {
  return pullFrames("ko_a2x_pull", stream, idx, xs, kp, nullptr, max, false);
}

KO_API int ko_a2x_pull_wn(ko_a2x* stream, int* idx, float* xs, float* kp, float* wn, int max) {
  return pullFrames("ko_a2x_pull_wn", stream, idx, xs, kp, wn, max, true);
}

KO_API int ko_a2x_reset(ko_a2x* stream, int start, int dir, int loop) {
  return ko::clearedCall(kFamily, "ko_a2x_reset", 0, [&] {
    if (!stream) throw std::invalid_argument("NULL stream");
    stream->stream.reset(start, dir, loop);
    return 1;
  });
}

KO_API int ko_a2x_nt(const ko_a2x* stream) {
  return stream ? clampCount(stream->stream.nt()) : 0;
}

KO_API int ko_a2x_width(const ko_a2x* stream) {
  return stream && stream->stream.hasWn() ? 1 : 0;
}

KO_API void ko_a2x_set_eager(ko_a2x* stream, int value) {
  if (stream) stream->stream.setEager(value);
}

KO_API int ko_a2x_deltas(ko_a2x* stream, const float* samples, int count, float* out, int max_frames) {
  return wholeUtterance("ko_a2x_deltas", stream, samples, count, out, nullptr, max_frames, false);
}

KO_API int ko_a2x_deltas_wn(ko_a2x* stream, const float* samples, int count, float* out, float* wn_out,
                            int max_frames) {
  return wholeUtterance("ko_a2x_deltas_wn", stream, samples, count, out, wn_out, max_frames, true);
}

KO_API const char* ko_a2x_last_error(void) {
  return ko::lastError(kFamily).c_str();
}

KO_API void ko_a2x_destroy(ko_a2x* stream) {
  delete stream;
}

KO_API int ko_a2x_preload_w2v(const char* path) {
  return ko::clearedCall(kFamily, "ko_a2x_preload_w2v", 0, [&] {
    std::string chosen = path ? path : "";
    if (chosen.empty()) {
      const std::optional<std::string> fromEnvironment = ko::envNonEmpty("W2V_ONNX");
      if (!fromEnvironment) throw std::runtime_error("no path and $W2V_ONNX unset");
      chosen = *fromEnvironment;
    }
    return ko::SpeechEncoder::process().get_shared_w2v(chosen, ko::pool::threads()) ? 1 : 0;
  });
}

KO_API int ko_a2x_w2v8_lazy(void) {
  return 1;
}

}  // extern "C"
