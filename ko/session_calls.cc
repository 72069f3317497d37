// The exported session calls that need no renderer: opening and closing a session, its figures,
// pasting a crop into a driver frame and reading driver frames.
#include <memory>

#include "ko/ko.h"
#include "ko/last_error.h"
#include "ko/session.h"

using ko::ErrorFamily;

extern "C" {

KO_API ko_ctx* ko_create(const char* bundle_dir, const char* model_key, int threads, const char* ep) {
  ko::clearLastError(ErrorFamily::Session);
  if (!bundle_dir || !model_key) {
    ko::setLastError(ErrorFamily::Session, "ko_create", "NULL bundle_dir/model_key");
    return nullptr;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_create", static_cast<ko_ctx*>(nullptr),
                         [&] { return ko::openSession(bundle_dir, model_key, threads, ep).release(); });
}

KO_API void ko_destroy(ko_ctx* ctx) {
  delete ctx;
}

KO_API int ko_nt(const ko_ctx* ctx) {
  return ctx ? ctx->manifest.NT : 0;
}
KO_API int ko_width(const ko_ctx* ctx) {
  return ctx ? ctx->manifest.W : 0;
}
KO_API int ko_height(const ko_ctx* ctx) {
  return ctx ? ctx->manifest.H : 0;
}
KO_API int ko_crop(const ko_ctx* ctx) {
  return ctx ? ctx->manifest.crop : 0;
}
KO_API int ko_drive_frames(const ko_ctx* ctx) {
  return ctx ? ctx->drive.frames : 0;
}

KO_API int ko_paste_crop(ko_ctx* ctx, int si, const float* crop, uint8_t* out, size_t cap) {
  ko::clearLastError(ErrorFamily::Session);
  if (!ctx || !crop || !out || !ctx->hasSource(si) || cap < ctx->framePixels() * 3) {
    ko::setLastError(ErrorFamily::Session, "ko_paste_crop", "bad args / out too small");
    return 0;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_paste_crop", 0, [&] {
    ctx->driver->pullAt(si, out);
    ctx->paste->composite(crop, 255.0f, ctx->identity->M(si), out, ctx->manifest.W, ctx->manifest.H);
    return 1;
  });
}

KO_API const uint8_t* ko_target_frame(ko_ctx* ctx, int si) {
  ko::clearLastError(ErrorFamily::Session);
  if (!ctx || !ctx->hasSource(si)) {
    ko::setLastError(ErrorFamily::Session, "ko_target_frame", "bad args");
    return nullptr;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_target_frame", static_cast<const uint8_t*>(nullptr), [&] {
    int32_t index = -1;
    return ctx->driver->pullAt(si, &index);
  });
}

}  // extern "C"
