// The thread that runs the audio model, so that no network run ever stalls the frame loop. The loop
// posts one request at a time into a mailbox and collects the response when it is ready; the model
// is touched only on this thread once it is loaded.
//
// Lock order: the mailbox mutex is never held while the wake callback runs, so the callback may take
// the pipeline's main mutex.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "utt/audio_model.h"
#include "utt/paste_job.h"

namespace ko::utt {

inline constexpr int kModelFrames = 32;  // frames one request may pull, and the loop may hold

struct ModelRequest {
  std::vector<float> audio;
  AudioModel* model = nullptr;
  bool reset = false;
  int32_t startRow = 0;
  int32_t direction = 1;
  int32_t eager = 0;  // 0: unchanged
  bool finish = false;
  int32_t maxFrames = 0;
  uint64_t generation = 0;
};

struct ModelFrame {
  int32_t row = 0;
  Keypoints xs{};
  Keypoints kp{};
};

struct ModelResponse {
  std::vector<ModelFrame> frames;
  int64_t available = 0;  // frames the model still holds
  int64_t total = -1;     // frames of the finished utterance, -1 before finish
  uint64_t generation = 0;
  std::string failure;  // non-empty: the model threw this
};

class AudioDispatcher {
 public:
  // Starts the thread; wake runs (with no mailbox lock held) after every response.
  explicit AudioDispatcher(std::function<void()> wake);
  ~AudioDispatcher();  // stops and joins the thread
  AudioDispatcher(const AudioDispatcher&) = delete;
  AudioDispatcher& operator=(const AudioDispatcher&) = delete;

  void post(ModelRequest request);
  // The response when it is ready, taking it out of the mailbox.
  std::optional<ModelResponse> take();
  // Waits at most `ms` for a response to be ready.
  bool waitReady(int ms);

 private:
  void loop();
  ModelResponse serve(ModelRequest& request);

  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::optional<ModelRequest> request_;
  std::optional<ModelResponse> response_;
  bool stop_ = false;
  std::array<int32_t, kModelFrames> rows_{};
  std::vector<float> xs_;
  std::vector<float> kp_;
  std::thread thread_;  // last, so it starts after everything it reads
};

}  // namespace ko::utt
