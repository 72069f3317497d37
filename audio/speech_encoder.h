// The process-wide speech encoder. Streams do not see raw audio: they see feature rows, the hidden
// states of a 12-layer speech encoder for every 40 ms frame. That encoder is expensive to load and the
// same for every identity, so one copy serves the whole process, in either of two forms that yield
// the same features:
//   - the legacy 8 s window ($W2V_ONNX): 128000 samples -> "audio_emb" 12 x 200 x 768;
//   - the short-window pair beside it: a trunk (2 s -> float16 640 x LT map at 80-sample steps) and a
//     head (8 interpolated trunk columns -> 8 feature rows), one pair of runs per 320 ms block.
// Loading takes the encoder's mutex for the whole load, so concurrent first streams load once; runs
// take no lock (ONNX Runtime sessions accept concurrent runs) and go through ko_a2x_on_owner_thread.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ko {

inline constexpr int kFeatureLayers = 12;
inline constexpr int kFeatureWidth = 768;
inline constexpr int kFeatureRow = kFeatureLayers * kFeatureWidth;  // floats per frame
inline constexpr int kLegacyWindowSamples = 128000;                 // 8 s
inline constexpr int kLegacyWindowFrames = 200;
inline constexpr int kLegacyHopFrames = 100;
inline constexpr int kShortWindowSamples = 32000;  // 2 s
inline constexpr int kBlockFrames = 8;             // 320 ms
inline constexpr int kTrunkChannels = 640;
inline constexpr int kTrunkStepSamples = 80;

class SpeechEncoder {
 public:
  // The encoder every stream of the process shares; created on first use, never destroyed.
  static SpeechEncoder& process();

  // A separate instance, for tools and tests that must not share the process's encoder.
  SpeechEncoder();
  ~SpeechEncoder();
  SpeechEncoder(const SpeechEncoder&) = delete;
  SpeechEncoder& operator=(const SpeechEncoder&) = delete;

  // The 8 s encoder: the first one loaded serves every later call, whatever the path. Load errors
  // propagate as exceptions and a later call tries again.
  Ort::Session* get_shared_w2v(const std::string& path, int threads);

  // Whether the short-window pair is loaded. The first call looks for it (KO_A2X_W2V_WIN_ONNX and
  // KO_A2X_W2V_HEAD_ONNX when both are set, else beside the 8 s encoder at w2vPath) and loads it;
  // a failed or missing pair is reported once on standard error and never tried again.
  bool get_shared_w2v_win(int threads, const std::string& w2vPath);

  // The 8 s encoder's output for an all-zero window, computed once.
  const std::vector<float>& zero_window_emb(Ort::Session& w2v8);

  // One run of the 8 s encoder on a normalised window of 128000 samples; returns "audio_emb"
  // (12 x 200 x 768 floats, layer-major).
  Ort::Value run8s(Ort::Session& w2v8, float* window);
  // One trunk run on a normalised window of 32000 samples: 640 channels x trunkLength() halves,
  // channel-major. The first run teaches the trunk length when the graph did not declare it.
  Ort::Value runTrunk(float* window);
  // One head run on 8 x 640 interpolated trunk columns: 8 x 9216 floats, frame-major.
  Ort::Value runHead(float* columns);

  // The trunk output's time length; 0 until known.
  int32_t trunkLength() const { return w2vwin_LT.load(std::memory_order_acquire); }

 private:
  Ort::Env& env();
  bool loadPair(int threads, const std::string& trunkPath, const std::string& headPath);

  std::mutex w2v_mtx;
  std::optional<Ort::Env> w2v_env;
  std::unique_ptr<Ort::Session> w2v_session;
  std::string w2v_path;
  std::unique_ptr<Ort::Session> w2vwin_trunk;
  std::unique_ptr<Ort::Session> w2vwin_head;
  bool w2vwin_tried = false;
  std::string w2vwin_trunk_out;
  std::atomic<int32_t> w2vwin_LT{0};
  std::mutex zeroemb_mtx;
  std::vector<float> zeroemb;
  Ort::MemoryInfo cpu;
};

// One run of an 8 s encoder session on a normalised window of 128000 samples, on the calling
// thread: "input_values" [1, 128000] -> "audio_emb", which must be 12 x 200 x 768 floats.
Ort::Value runLegacyWindow(Ort::Session& session, const Ort::MemoryInfo& cpu, float* window);

// The file pairs looked for beside the 8 s encoder, in order: (trunk, head).
struct W2vPairNames {
  const char* trunk;
  const char* head;
};
inline constexpr W2vPairNames kPairs[] = {
    {"audio_encoder_fp16_window_trunk.onnx", "audio_encoder_fp16_window_head.onnx"},
    {"w2v_trunk32.onnx", "w2v_head32.onnx"},
};

}  // namespace ko
