#include "audio/fca_model.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "audio/causal_norm.h"
#include "audio/ort_sessions.h"
#include "audio/window_norm.h"

namespace ko {
namespace {

constexpr int64_t kLayerStride = int64_t{kLegacyWindowFrames} * kFeatureWidth;
constexpr int kAveragedLayers = kFcaLastLayer - kFcaFirstLayer + 1;

// A float tensor over caller memory shaped [1, count].
Ort::Value rowTensor(const Ort::MemoryInfo& cpu, float* values, int64_t count) {
  const int64_t shape[] = {1, count};
  return Ort::Value::CreateTensor<float>(cpu, values, static_cast<size_t>(count), shape, 2);
}

const float* floatsOf(const Ort::Value& value, size_t count, const char* name) {
  const Ort::TensorTypeAndShapeInfo info = value.GetTensorTypeAndShapeInfo();
  if (info.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT || info.GetElementCount() != count) {
    throw std::runtime_error(std::string("fca_stream.onnx: \"") + name + "\" is not " +
                             std::to_string(count) + " floats");
  }
  return value.GetTensorData<float>();
}

}  // namespace

int64_t fcaFrames(int64_t count) {
  return count < 1 ? 0 : (count + kSamplesPerFrame - 1) / kSamplesPerFrame;
}

FcaModel::FcaModel(const std::string& encoderPath, const std::string& expressionPath, int threads)
    : env_(ORT_LOGGING_LEVEL_WARNING, "ko_fca"),
      cpu_(Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault)),
      options_(audioSessionOptions(threads, "fca")),
      encoder_(ko_a2x_open_session(env_, encoderPath, options_)),
      expression_(ko_a2x_open_session(env_, expressionPath, options_)) {}

std::vector<float> FcaModel::features(const float* samples, int64_t count) {
  const int64_t frames = fcaFrames(count);
  std::vector<float> features(static_cast<size_t>(frames) * kFeatureWidth);
  std::vector<float> window(kLegacyWindowSamples);
  int64_t filled = 0;
  for (int64_t start = 0; start < frames; start += kLegacyHopFrames) {
    const int64_t first = start * kSamplesPerFrame;
    const int64_t available = std::clamp<int64_t>(count - first, 0, kLegacyWindowSamples);
    std::fill(window.begin(), window.end(), 0.0f);
    copyFiniteSamples(samples + first, static_cast<size_t>(available), window.data());
    normaliseWindow(window.data(), window.size());
    const Ort::Value emb = runLegacyWindow(*encoder_, cpu_, window.data());
    writeWindowFeatures(emb.GetTensorData<float>(), start, frames, filled, features.data());
  }
  return features;
}

void FcaModel::writeWindowFeatures(const float* emb, int64_t windowStart, int64_t frames, int64_t& filled,
                                   float* features) const {
  for (int64_t k = windowStart == 0 ? 0 : kFcaLaterWindowFirst; k < kLegacyWindowFrames; ++k) {
    const int64_t frame = windowStart + k;
    if (frame >= frames) break;
    if (frame < filled) continue;
    float* row = features + frame * kFeatureWidth;
    for (int64_t i = 0; i < kFeatureWidth; ++i) {
      double sum = 0;
      for (int layer = kFcaFirstLayer; layer <= kFcaLastLayer; ++layer) {
        sum += emb[layer * kLayerStride + k * kFeatureWidth + i];
      }
      row[i] = static_cast<float>(sum / kAveragedLayers);
    }
    filled = frame + 1;
  }
}

void FcaModel::deltas(const float* samples, int64_t count, float* out) {
  const int64_t frames = fcaFrames(count);
  if (frames == 0) return;
  std::vector<float> features = this->features(samples, count);
  normaliseCausally(features.data(), frames, kFeatureWidth);
  std::vector<float> cond(kFcaCondValues);
  std::vector<float> prev(kKeypointValues, 0.0f);
  std::vector<float> state(kFcaStateValues, 0.0f);
  for (int64_t t = 0; t < frames; ++t) {
    for (size_t c = 0; c < kFcaContextOffsets.size(); ++c) {
      const int64_t source = std::clamp<int64_t>(t + kFcaContextOffsets[c], 0, frames - 1);
      std::memcpy(cond.data() + c * kFeatureWidth, features.data() + source * kFeatureWidth,
                  sizeof(float) * kFeatureWidth);
    }
    step(cond.data(), prev.data(), state.data());
    std::copy(prev.begin(), prev.end(), out + t * kKeypointValues);
  }
}

void FcaModel::step(const float* cond, float* prevAndOut, float* state) {
  Ort::Value inputs[] = {rowTensor(cpu_, const_cast<float*>(cond), kFcaCondValues),
                         rowTensor(cpu_, prevAndOut, kKeypointValues),
                         rowTensor(cpu_, state, kFcaStateValues)};
  const char* inputNames[] = {"cond", "prev", "h"};
  const char* outputNames[] = {"m", "hn"};
  std::vector<Ort::Value> outputs =
      expression_->Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, 2);
  const float* m = floatsOf(outputs[0], kKeypointValues, "m");
  const float* hn = floatsOf(outputs[1], kFcaStateValues, "hn");
  std::copy(m, m + kKeypointValues, prevAndOut);
  std::copy(hn, hn + kFcaStateValues, state);
}

}  // namespace ko
