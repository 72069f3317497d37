// The exported FCA calls: a flat C face over ko::FcaModel.
#include <stdexcept>
#include <string>

#include "audio/audio.h"
#include "ko/ko_a2x.h"
#include "ko/last_error.h"

struct ko_fca {
  ko_fca(const char* encoderPath, const char* modelPath, int threads)
      : model(encoderPath, modelPath, threads) {}
  ko::FcaModel model;
};

namespace {

constexpr ko::ErrorFamily kFamily = ko::ErrorFamily::Fca;

}  // namespace

extern "C" {

KO_API ko_fca* ko_fca_create(const char* encoder_path, const char* model_path, int threads) {
  return ko::clearedCall(kFamily, "ko_fca_create", static_cast<ko_fca*>(nullptr), [&] {
    if (!encoder_path || !model_path) throw std::invalid_argument("NULL encoder_path/model_path");
    return new ko_fca(encoder_path, model_path, threads);
  });
}

KO_API int ko_fca_deltas(ko_fca* fca, const float* samples, int count, float* out, int max_frames) {
  return ko::clearedCall(kFamily, "ko_fca_deltas", -1, [&] {
    if (!fca) throw std::invalid_argument("NULL fca");
    const int64_t frames = ko::fcaFrames(count);
    if (frames == 0) return 0;
    if (!samples || !out) throw std::invalid_argument("NULL samples/out");
    if (frames > max_frames) {
      throw std::length_error(std::to_string(frames) + " frames do not fit max_frames " +
                              std::to_string(max_frames));
    }
    fca->model.deltas(samples, count, out);
    return static_cast<int>(frames);
  });
}

KO_API const char* ko_fca_last_error(void) {
  return ko::lastError(kFamily).c_str();
}

KO_API void ko_fca_destroy(ko_fca* fca) {
  delete fca;
}

}  // extern "C"
