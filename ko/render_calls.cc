// The exported calls that render: a crop for given keypoints or for a row of the idle-loop tables,
// pasting the last crop, and the RGBA forms that do both. The director's renderer is built on the
// first render call and kept until ko_destroy.
#include <algorithm>

#include "ko/ko.h"
#include "ko/last_error.h"
#include "ko/session.h"
#include "renderer/renderer.h"

namespace {

using ko::ErrorFamily;

// Paste-to-RGBA shared by both RGBA calls; the crop is already rendered.
int pasteLastRGBA(ko_ctx* ctx, int si, uint8_t* out, size_t cap) {
  if (!out || cap < ctx->framePixels() * 4) {
    ko::setLastError(ErrorFamily::Session, "ko_render_*_rgba", "out buffer too small");
    return 0;
  }
  const uint8_t* rgb = ko_paste_last(ctx, si);
  if (!rgb) return 0;
  for (size_t p = 0; p < ctx->framePixels(); ++p) {
    std::copy_n(rgb + 3 * p, 3, out + 4 * p);
    out[4 * p + 3] = 255;
  }
  return 1;
}

}  // namespace

extern "C" {

KO_API const float* ko_render_kp_crop(ko_ctx* ctx, int si, const float* kp_source, const float* kp_driving) {
  ko::clearLastError(ErrorFamily::Session);
  if (!ctx || !kp_source || !kp_driving || !ctx->hasSource(si)) {
    ko::setLastError(ErrorFamily::Session, "ko_render_kp_crop", "bad args");
    return nullptr;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_render_kp_crop", static_cast<const float*>(nullptr), [&] {
    const int32_t source = si;
    const float* crop = ko::sessionRenderer(*ctx).render(&source, kp_source, kp_driving, 1);
    ctx->lastCrop = crop;
    return crop;
  });
}

KO_API const float* ko_render_drive_crop(ko_ctx* ctx, int t) {
  ko::clearLastError(ErrorFamily::Session);
  if (!ctx || t < 0 || t >= ctx->drive.frames) {
    ko::setLastError(ErrorFamily::Session, "ko_render_drive_crop", "bad frame index");
    return nullptr;
  }
  const size_t row = static_cast<size_t>(t) * 63;
  return ko_render_kp_crop(ctx, ctx->drive.si[static_cast<size_t>(t)], ctx->drive.xs.data() + row,
                           ctx->drive.xd.data() + row);
}

KO_API const uint8_t* ko_paste_last(ko_ctx* ctx, int si) {
  ko::clearLastError(ErrorFamily::Session);
  if (!ctx || !ctx->lastCrop || !ctx->hasSource(si)) {
    ko::setLastError(ErrorFamily::Session, "ko_paste_last", "bad args / no prior render");
    return nullptr;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_paste_last", static_cast<const uint8_t*>(nullptr), [&] {
    ctx->driver->pullAt(si, ctx->frame.data());
    ctx->paste->composite(ctx->lastCrop, 255.0f, ctx->identity->M(si), ctx->frame.data(), ctx->manifest.W,
                          ctx->manifest.H);
    return static_cast<const uint8_t*>(ctx->frame.data());
  });
}

KO_API int ko_render_kp_rgba(ko_ctx* ctx, int si, const float* kp_source, const float* kp_driving,
                             uint8_t* out, size_t cap) {
  if (!ko_render_kp_crop(ctx, si, kp_source, kp_driving)) return 0;
  return pasteLastRGBA(ctx, si, out, cap);
}

KO_API int ko_render_drive_rgba(ko_ctx* ctx, int t, uint8_t* out, size_t cap) {
  if (!ko_render_drive_crop(ctx, t)) return 0;
  return pasteLastRGBA(ctx, ctx->drive.si[static_cast<size_t>(t)], out, cap);
}

}  // extern "C"
