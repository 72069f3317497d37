// The exported motion calls: a flat C face over ko::motion::MotionStream.
#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "audio/audio.h"
#include "ko/ko_a2x.h"
#include "ko/last_error.h"

struct ko_motion {
  ko_motion(const char* dir, int threads, const char* ep) : stream(dir, threads, ep ? ep : "") {}
  ko::motion::MotionStream stream;
};

namespace {

constexpr ko::ErrorFamily kFamily = ko::ErrorFamily::Motion;

void requireArgs(bool valid) {
  if (!valid) throw std::invalid_argument("bad args");
}

int clampCount(int64_t count) {
  return static_cast<int>(std::clamp<int64_t>(count, INT32_MIN, INT32_MAX));
}

}  // namespace

extern "C" {

KO_API ko_motion* ko_motion_create(const char* motion_dir, int threads, const char* ep) {
  return ko::clearedCall(kFamily, "ko_motion_create", static_cast<ko_motion*>(nullptr), [&] {
    if (!motion_dir) throw std::invalid_argument("NULL motion_dir");
    return new ko_motion(motion_dir, threads, ep);
  });
}

KO_API int ko_motion_push(ko_motion* stream, const float* samples, int count) {
  return ko::clearedCall(kFamily, "ko_motion_push", 0, [&] {
    if (!stream || !samples || count < 0 || stream->stream.finished()) {
      throw std::invalid_argument("bad args / already finished");
    }
    stream->stream.push(samples, count);
    return 1;
  });
}

KO_API int ko_motion_finish(ko_motion* stream) {
  return ko::clearedCall(kFamily, "ko_motion_finish", 0, [&] {
    requireArgs(stream);
    stream->stream.finish();
    return 1;
  });
}

KO_API int ko_motion_total(const ko_motion* stream) {
  return ko::clearedCall(kFamily, "ko_motion_total", -1, [&] {
    requireArgs(stream);
    return clampCount(stream->stream.total());
  });
}

KO_API int ko_motion_avail(ko_motion* stream) {
  return ko::clearedCall(kFamily, "ko_motion_avail", -1, [&] {
    requireArgs(stream);
    return clampCount(stream->stream.avail());
  });
}

KO_API int ko_motion_pull(ko_motion* stream, int* rows, float* xs, float* kp, int max) {
  return ko::clearedCall(kFamily, "ko_motion_pull", -1, [&] {
    requireArgs(stream && rows && xs && kp && max >= 0);
    return clampCount(stream->stream.pull(rows, xs, kp, max));
  });
}

KO_API int ko_motion_reset(ko_motion* stream, int start, int dir, int loop) {
  return ko::clearedCall(kFamily, "ko_motion_reset", 0, [&] {
    requireArgs(stream);
    stream->stream.reset(start, dir, loop != 0);
    return 1;
  });
}

KO_API void ko_motion_set_eager(ko_motion* stream, int value) {
  if (stream) stream->stream.setEager(value);
}

KO_API int ko_motion_nt(const ko_motion* stream) {
  return stream ? clampCount(stream->stream.nt()) : 0;
}

KO_API const char* ko_motion_last_error(void) {
  return ko::lastError(kFamily).c_str();
}

KO_API void ko_motion_destroy(ko_motion* stream) {
  delete stream;
}

}  // extern "C"
