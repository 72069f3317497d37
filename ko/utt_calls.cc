// The exported utterance calls: each runs through the one guarded conversion under the utterance
// family's per-thread text; the pipeline itself lives in utt/.
#include <algorithm>
#include <cstring>
#include <memory>

#include "ko/ko.h"
#include "ko/last_error.h"
#include "ko/session.h"
#include "ko/utt_handle.h"

namespace {

using ko::ErrorFamily;
constexpr ErrorFamily kFamily = ErrorFamily::Utt;

std::string textOr(const char* text, const char* fallback) {
  return text ? text : fallback;
}

ko::utt::UttRequest requestFrom(const ko_utt_opts& opts) {
  ko::utt::UttRequest request;
  request.motionDir = textOr(opts.motion_dir, "");
  request.threads = opts.threads;
  request.motionEp = textOr(opts.motion_ep, "");
  if (opts.steady_model) request.steadyModel = opts.steady_model;
  request.eager = opts.eager;
  request.endGapS = opts.end_gap_s;
  request.rampFrames = opts.ramp_frames;
  request.interruptRampFrames = opts.interrupt_ramp_frames;
  return request;
}

ko_utt* createPipeline(ko_ctx& ctx, const ko_utt_opts& opts) {
  ko::Renderer& renderer = ko::sessionRenderer(ctx);
  const ko::utt::SessionParts session{
      ctx.manifest, *ctx.identity, ctx.drive, renderer, *ctx.paste, *ctx.driver, ko::directorThreads(ctx),
      ctx.ep};
  auto utt = std::make_unique<ko_utt>(session, requestFrom(opts));
  if (!renderer.directorNote().empty())
    utt->pipeline.noteRenderFail("director load", renderer.directorNote(), false);
  return utt.release();
}

void badArgs(const char* call) {
  ko::setLastError(kFamily, call, "bad args");
}

}  // namespace

extern "C" {

KO_API ko_utt* ko_utt_create(ko_ctx* ctx, const ko_utt_opts* opts) {
  ko::clearLastError(kFamily);
  if (!ctx || !opts) {
    ko::setLastError(kFamily, "ko_utt_create", "NULL ctx/opts");
    return nullptr;
  }
  return ko::guardedCall(kFamily, "ko_utt_create", static_cast<ko_utt*>(nullptr),
                         [&] { return createPipeline(*ctx, *opts); });
}

KO_API ko_utt* ko_utt_open(ko_ctx* ctx, const char* motion_dir) {
  ko_utt_opts opts{};
  opts.motion_dir = motion_dir;
  return ko_utt_create(ctx, &opts);
}

KO_API int ko_utt_push_audio(ko_utt* utt, const int16_t* samples, int count) {
  ko::clearLastError(kFamily);
  if (!utt || !samples || count < 0) {
    badArgs("ko_utt_push_audio");
    return 0;
  }
  return ko::guardedCall(kFamily, "ko_utt_push_audio", 0, [&] {
    utt->pipeline.pushAudio(samples, count);
    return 1;
  });
}

KO_API void ko_utt_end_utterance(ko_utt* utt) {
  if (utt) utt->pipeline.endUtterance();
}

KO_API void ko_utt_interrupt(ko_utt* utt) {
  if (utt) utt->pipeline.interrupt();
}

KO_API int ko_utt_frames_available(ko_utt* utt) {
  return utt ? utt->pipeline.framesAvailable() : 0;
}

// An empty ring is the normal answer between frames, so it leaves the last error alone.
KO_API int ko_utt_pull_frame(ko_utt* utt, uint8_t* dst, size_t cap, ko_utt_frame_info* info) {
  if (!utt || !dst) {
    badArgs("ko_utt_pull_frame");
    return 0;
  }
  ko::utt::FrameInfo frame;
  const ko::utt::PullResult result = utt->pipeline.pull(dst, cap, &frame, nullptr);
  if (result == ko::utt::PullResult::TooSmall) {
    ko::setLastError(kFamily, "ko_utt_pull_frame", "buffer too small");
    return 0;
  }
  if (result == ko::utt::PullResult::Empty) return 0;
  if (info) *info = {frame.seq, frame.kind, frame.row, frame.ordinal};
  return 1;
}

KO_API int ko_utt_ready(ko_utt* utt) {
  ko::clearLastError(kFamily);
  if (!utt) {
    badArgs("ko_utt_ready");
    return -1;
  }
  std::string failure;
  const int32_t ready = utt->pipeline.ready(&failure);
  if (ready < 0) ko::setLastErrorText(kFamily, failure);
  return ready;
}

KO_API void ko_utt_get_stats(ko_utt* utt, ko_utt_stats* stats) {
  if (!utt || !stats) return;
  const ko::utt::UttStats read = utt->pipeline.stats();
  *stats = {read.framesDelivered, read.speechFramesDelivered,
            read.utterances,      read.firstFrameMs,
            read.renderMs,        read.state};
}

KO_API int ko_utt_render_status(ko_utt* utt, char* text, size_t size, int64_t* count) {
  if (!utt) return 0;
  std::string latest;
  const bool failed = utt->pipeline.renderStatus(&latest, count);
  if (text && size >= 1) {
    const size_t copied = std::min(latest.size(), size - 1);
    std::memcpy(text, latest.data(), copied);
    text[copied] = '\0';
  }
  return failed ? -1 : 0;
}

KO_API const char* ko_utt_last_error(void) {
  return ko::lastError(kFamily).c_str();
}

KO_API void ko_utt_destroy(ko_utt* utt) {
  delete utt;
}

}  // extern "C"
