#include "audio/speech_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "audio/ort_sessions.h"
#include "audio/owner_thread.h"
#include "bundle/bundle.h"
#include "pool/pool.h"

namespace ko {
namespace {

constexpr size_t kEmbFloats = size_t{kFeatureLayers} * kLegacyWindowFrames * kFeatureWidth;
constexpr size_t kHeadFloats = size_t{kBlockFrames} * kFeatureRow;

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

Ort::Value runOne(Ort::Session& session, const char* inputName, Ort::Value& input, const char* outputName) {
  Ort::Value output{nullptr};
  ko_a2x_on_owner_thread(
      [&] { session.Run(Ort::RunOptions{nullptr}, &inputName, &input, 1, &outputName, &output, 1); });
  return output;
}

size_t floatCount(const Ort::Value& value) {
  return value.GetTensorTypeAndShapeInfo().GetElementCount();
}

}  // namespace

SpeechEncoder& SpeechEncoder::process() {
  static SpeechEncoder* const instance = new SpeechEncoder();
  return *instance;
}

SpeechEncoder::SpeechEncoder() : cpu(Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault)) {}

SpeechEncoder::~SpeechEncoder() = default;

Ort::Env& SpeechEncoder::env() {
  if (!w2v_env) w2v_env.emplace(ORT_LOGGING_LEVEL_WARNING, "ko_a2x_w2v");
  return *w2v_env;
}

Ort::Session* SpeechEncoder::get_shared_w2v(const std::string& path, int threads) {
  std::lock_guard<std::mutex> lock(w2v_mtx);
  if (w2v_session) return w2v_session.get();
  Ort::Env& environment = env();
  Ort::SessionOptions options = audioSessionOptions(threads, "w2v");
  std::unique_ptr<Ort::Session> session;
  ko_a2x_on_owner_thread([&] { session = ko_a2x_open_session(environment, path, options); });
  w2v_session = std::move(session);
  w2v_path = path;
  return w2v_session.get();
}

bool SpeechEncoder::get_shared_w2v_win(int threads, const std::string& w2vPath) {
  std::lock_guard<std::mutex> lock(w2v_mtx);
  if (w2vwin_trunk && w2vwin_head) return true;
  if (w2vwin_tried) return false;
  w2vwin_tried = true;
  std::string trunkPath = envText("KO_A2X_W2V_WIN_ONNX").value_or("");
  std::string headPath = envText("KO_A2X_W2V_HEAD_ONNX").value_or("");
  if (trunkPath.empty() || headPath.empty()) {
    trunkPath.clear();
    headPath.clear();
    const std::string dir = directoryOf(w2vPath);
    for (const W2vPairNames& pair : kPairs) {
      if (w2vPath.empty()) break;
      const std::string trunk = dir + "/" + pair.trunk;
      const std::string head = dir + "/" + pair.head;
      if (opensForReading(trunk) && opensForReading(head)) {
        trunkPath = trunk;
        headPath = head;
        break;
      }
    }
  }
  if (trunkPath.empty()) {
    std::fprintf(
        stderr,
        "[ko_a2x] short-window audio frontend NOT DEPLOYED on this plane: neither "
        "KO_A2X_W2V_WIN_ONNX/KO_A2X_W2V_HEAD_ONNX are set nor is the pair beside $W2V_ONNX (%s) as "
        "audio_encoder_fp16_window_{trunk,head}.onnx (legacy w2v_trunk32.onnx/w2v_head32.onnx). Serving "
        "the LEGACY 8s window — same reference quality, 2.8-3.9x the audio hop cost. Ship the pair beside "
        "the encoder (tools/export_w2v_window).\n",
        w2vPath.c_str());
    return false;
  }
  return loadPair(threads, trunkPath, headPath);
}

bool SpeechEncoder::loadPair(int threads, const std::string& trunkPath, const std::string& headPath) {
  try {
    Ort::Env& environment = env();
    Ort::SessionOptions options = audioSessionOptions(threads, "w2v");
    ko_a2x_on_owner_thread([&] {
      w2vwin_trunk = ko_a2x_open_session(environment, trunkPath, options);
      w2vwin_head = ko_a2x_open_session(environment, headPath, options);
    });
    w2vwin_trunk_out = outputName(*w2vwin_trunk, 0);
    const std::vector<int64_t> shape =
        w2vwin_trunk->GetOutputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
    const int64_t length = shape.size() == 3 && shape[2] >= 1 && shape[2] <= INT32_MAX ? shape[2] : 0;
    w2vwin_LT.store(static_cast<int32_t>(length), std::memory_order_release);
    const std::string lt = length > 0 ? std::to_string(length) : "from-first-run";
    std::fprintf(stderr,
                 "[ko_a2x] short-window w2v frontend loaded (LT=%s) trunk=%s (%lld B) head=%s (%lld B)\n",
                 lt.c_str(), trunkPath.c_str(), static_cast<long long>(w2v_file_bytes(trunkPath)),
                 headPath.c_str(), static_cast<long long>(w2v_file_bytes(headPath)));
    return true;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "[ko_a2x] short-window w2v load FAILED (%s) — legacy 8s path\n",
                 oneLine(failure.what()).c_str());
    w2vwin_trunk.reset();
    w2vwin_head.reset();
    return false;
  }
}

const std::vector<float>& SpeechEncoder::zero_window_emb(Ort::Session& w2v8) {
  std::lock_guard<std::mutex> lock(zeroemb_mtx);
  if (zeroemb.empty()) {
    std::vector<float> window(kLegacyWindowSamples, 0.0f);
    Ort::Value emb = run8s(w2v8, window.data());
    const float* values = emb.GetTensorData<float>();
    zeroemb.assign(values, values + kEmbFloats);
  }
  return zeroemb;
}

Ort::Value runLegacyWindow(Ort::Session& session, const Ort::MemoryInfo& cpu, float* window) {
  const int64_t shape[] = {1, kLegacyWindowSamples};
  Ort::Value input = Ort::Value::CreateTensor<float>(cpu, window, kLegacyWindowSamples, shape, 2);
  const char* inputName = "input_values";
  const char* outputName = "audio_emb";
  Ort::Value emb{nullptr};
  session.Run(Ort::RunOptions{nullptr}, &inputName, &input, 1, &outputName, &emb, 1);
  if (!emb.IsTensor() ||
      emb.GetTensorTypeAndShapeInfo().GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT ||
      floatCount(emb) != kEmbFloats) {
    throw std::runtime_error("the 8 s w2v encoder's \"audio_emb\" is not 12 x 200 x 768 floats");
  }
  return emb;
}

Ort::Value SpeechEncoder::run8s(Ort::Session& w2v8, float* window) {
  Ort::Value emb{nullptr};
  ko_a2x_on_owner_thread([&] { emb = runLegacyWindow(w2v8, cpu, window); });
  return emb;
}

Ort::Value SpeechEncoder::runTrunk(float* window) {
  const int64_t shape[] = {1, kShortWindowSamples};
  Ort::Value input = Ort::Value::CreateTensor<float>(cpu, window, kShortWindowSamples, shape, 2);
  Ort::Value trunk = runOne(*w2vwin_trunk, "input_values", input, w2vwin_trunk_out.c_str());
  const Ort::TensorTypeAndShapeInfo info = trunk.GetTensorTypeAndShapeInfo();
  const std::vector<int64_t> dims = info.GetShape();
  if (info.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16 || dims.size() != 3 || dims[2] < 1 ||
      dims[2] > INT32_MAX ||
      info.GetElementCount() != size_t{kTrunkChannels} * static_cast<size_t>(dims[2])) {
    throw std::runtime_error("w2v_win: the trunk's output is not float16 640 x LT");
  }
  int32_t known = 0;
  w2vwin_LT.compare_exchange_strong(known, static_cast<int32_t>(dims[2]), std::memory_order_acq_rel);
  if (trunkLength() != dims[2]) {
    throw std::runtime_error("w2v_win: the trunk's output has " + std::to_string(dims[2]) +
                             " time steps, not " + std::to_string(trunkLength()));
  }
  return trunk;
}

Ort::Value SpeechEncoder::runHead(float* columns) {
  const int64_t shape[] = {kBlockFrames, kTrunkChannels};
  Ort::Value input =
      Ort::Value::CreateTensor<float>(cpu, columns, size_t{kBlockFrames} * kTrunkChannels, shape, 2);
  Ort::Value emb = runOne(*w2vwin_head, "x", input, "emb");
  if (emb.GetTensorTypeAndShapeInfo().GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT ||
      floatCount(emb) != kHeadFloats) {
    throw std::runtime_error("w2v_win: the head's \"emb\" is not 8 x 9216 floats");
  }
  return emb;
}

}  // namespace ko
