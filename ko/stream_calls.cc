// The exported offline stream calls: a session of its own, an FCA model and the bundle's idle
// keypoints, run through ko::utt::OfflineRunner with the session's own render and paste calls.
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "ko/ko.h"
#include "ko/ko_a2x.h"
#include "ko/last_error.h"
#include "ko/session.h"
#include "ko/stream_handle.h"

namespace {

constexpr ko::ErrorFamily kFamily = ko::ErrorFamily::Stream;

// Raised with a whole text that already names its call, so it is kept as it stands.
struct WholeText : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Renders and pastes with the session's exported calls, as a host would.
class SessionSteps final : public ko::utt::OfflineSteps {
 public:
  SessionSteps(ko_ctx* ctx, size_t frameBytes) : ctx_(ctx), frameBytes_(frameBytes) {}
  const float* render(const ko::utt::OfflineFrame& frame) override {
    return ko_render_kp_crop(ctx_, frame.row, frame.xs, frame.kp.data());
  }
  bool paste(const ko::utt::OfflineFrame& frame, const float* crop, uint8_t* out) override {
    return ko_paste_crop(ctx_, frame.row, crop, out, frameBytes_) == 1;
  }

 private:
  ko_ctx* ctx_;
  size_t frameBytes_;
};

std::unique_ptr<ko_ctx, ko::SessionCloser> openStreamSession(const char* bundle, int threads) {
  std::unique_ptr<ko_ctx, ko::SessionCloser> ctx(ko_create(bundle, "render", threads, ""));
  // The session's and the model's texts already name their calls.
  if (!ctx) throw WholeText(ko_last_error());
  return ctx;
}

std::unique_ptr<ko_fca, ko::FcaCloser> openStreamFca(const char* encoderPath, const std::string& bundleDir,
                                                     int threads) {
  const std::string model = bundleDir + "/fca_stream.onnx";
  std::unique_ptr<ko_fca, ko::FcaCloser> fca(ko_fca_create(encoderPath, model.c_str(), threads));
  if (!fca) throw WholeText(ko_fca_last_error());
  return fca;
}

std::vector<float> readIdleKeypoints(const std::string& bundleDir, int32_t nt) {
  try {
    return ko::readRaw(ko::resolveMember(bundleDir, "xs_target.bin"),
                       static_cast<size_t>(nt) * ko::kKeypointValues);
  } catch (const std::exception&) {
    throw WholeText("ko_stream_create: cannot read xs_target.bin (NT*63 f32)");
  }
}

size_t frameBytesOf(const ko_ctx& ctx) {
  return static_cast<size_t>(ctx.manifest.W) * static_cast<size_t>(ctx.manifest.H) * 3;
}

// Runs body, keeping a WholeText as it stands and prefixing any other failure with the call.
template <class Result, class Body>
Result guarded(const char* call, Result onFailure, Body&& body) noexcept {
  return ko::clearedCall(kFamily, call, onFailure, [&]() -> Result {
    try {
      return body();
    } catch (const WholeText& failure) {
      ko::setLastErrorText(kFamily, failure.what());
      return onFailure;
    }
  });
}

}  // namespace

ko_stream::ko_stream(const char* bundle, const char* encoderPath, int threads, int32_t skipFrames,
                     float deltaGain)
    : ctx(openStreamSession(bundle, threads)),
      fca(openStreamFca(encoderPath, ctx->manifest.dir, threads)),
      xs_target(readIdleKeypoints(ctx->manifest.dir, ctx->manifest.NT)),
      NT(ctx->manifest.NT),
      W(ctx->manifest.W),
      H(ctx->manifest.H),
      crop(ctx->manifest.crop),
      skip(skipFrames),
      gain(deltaGain),
      runner(static_cast<size_t>(crop) * static_cast<size_t>(crop) * 3, frameBytesOf(*ctx)) {}

extern "C" {

KO_API ko_stream* ko_stream_create(const char* bundle_dir, const char* encoder_path, int threads, int skip,
                                   float gain) {
  return guarded("ko_stream_create", static_cast<ko_stream*>(nullptr), [&] {
    if (skip < 0) throw std::invalid_argument("skip must be 0 or more");
    if (!std::isfinite(gain)) throw std::invalid_argument("gain must be finite");
    return new ko_stream(bundle_dir, encoder_path, threads, skip, gain);
  });
}

KO_API int ko_stream_run(ko_stream* stream, const float* samples, int count, ko_stream_frame_cb callback,
                         void* user) {
  return guarded("ko_stream_run", -1, [&] {
    if (!stream || !callback) throw std::invalid_argument("NULL stream/callback");
    const int frames = static_cast<int>(ko::fcaFrames(count));
    std::vector<float> deltas(static_cast<size_t>(frames) * ko::kKeypointValues);
    if (ko_fca_deltas(stream->fca.get(), samples, count, deltas.data(), frames) != frames) {
      throw WholeText(std::string("ko_fca_deltas: ") + ko_fca_last_error());
    }
    const std::vector<ko::utt::OfflineFrame> plan = ko::utt::planOfflineFrames(
        deltas.data(), frames, stream->xs_target, stream->NT, stream->skip, stream->gain);
    SessionSteps steps(stream->ctx.get(), frameBytesOf(*stream->ctx));
    const ko::utt::OfflineRunResult result =
        stream->runner.run(plan, steps, [&](int64_t index, const uint8_t* frame) {
          callback(user, static_cast<int>(index), frame, stream->W, stream->H);
        });
    if (result.failed) throw WholeText("ko_stream_run: render/paste failed");
    return static_cast<int>(result.delivered);
  });
}

KO_API int ko_stream_width(const ko_stream* stream) {
  return stream ? stream->W : 0;
}

KO_API int ko_stream_height(const ko_stream* stream) {
  return stream ? stream->H : 0;
}

KO_API const char* ko_stream_last_error(void) {
  return ko::lastError(kFamily).c_str();
}

KO_API void ko_stream_destroy(ko_stream* stream) {
  delete stream;
}

}  // extern "C"
