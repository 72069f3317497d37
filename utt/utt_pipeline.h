// The utterance pipeline: live speech in, full driver frames out. Between utterances the host gets
// the idle video, one frame per pull; during one, frames whose face follows the speech; after one, a
// short blend back to the idle pose. Threads:
//   - the frame loop (run): takes the host's audio, schedules the model, renders, hands frames on;
//   - warm-up (warm): loads the audio model and the chunk renderer, then exits;
//   - the audio dispatcher: runs the model (utt/audio_dispatcher.h);
//   - the paste thread (pasteLoop), when pasting is pipelined;
//   - the teeth thread (tessLoop), from the first teeth attach when pasting is pipelined.
// Every wait is a poll of at most 2 ms that re-checks shutdown and the interrupt generation, so no
// stage blocks destruction or an interrupt. Network runs and pastes happen with no lock held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bundle/bundle.h"
#include "driver/driver.h"
#include "paste/paste.h"
#include "renderer/renderer.h"
#include "tessera/tessera.h"
#include "utt/audio_dispatcher.h"
#include "utt/audio_model.h"
#include "utt/frame_ring.h"
#include "utt/paste_job.h"
#include "utt/stage_report.h"
#include "utt/utt_settings.h"

namespace ko::utt {

// What the pipeline borrows from its session, which outlives it. While the pipeline lives, its threads
// are the only users of the renderer, the paste and the driver cursor.
struct SessionParts {
  const Manifest& manifest;
  const Identity& identity;
  const Drive& drive;
  Renderer& renderer;
  Paste& paste;
  DriverCursor& driver;
  int32_t rendererThreads;  // what a chunk renderer is built with
  std::string ep;
};

struct UttStats {
  uint64_t framesDelivered = 0;
  uint64_t speechFramesDelivered = 0;
  uint64_t utterances = 0;
  double firstFrameMs = 0;
  double renderMs = 0;
  int32_t state = 0;
};

// Hybrid scheduling runs the model eagerly (3 new frames) until 24 frames are in hand.
inline constexpr int32_t kHybridLowEager = 3;
inline constexpr int32_t kHybridHighEager = 24;

enum class PullResult { Copied, Empty, TooSmall };

class UttPipeline {
 public:
  // Resolves the settings, reads "xs_target.bin" of the motion directory and starts the threads.
  // Throws "opts.motion_dir required" for an empty directory.
  UttPipeline(const SessionParts& session, const UttRequest& request);
  ~UttPipeline();
  UttPipeline(const UttPipeline&) = delete;
  UttPipeline& operator=(const UttPipeline&) = delete;

  void pushAudio(const int16_t* samples, int64_t count);
  void endUtterance();
  void interrupt();
  int32_t framesAvailable();
  // Copies the oldest finished frame into dst (cap bytes) with its information and, when kp is not
  // null, its 63 keypoints. A buffer too small leaves the frame in the ring.
  PullResult pull(uint8_t* dst, size_t cap, FrameInfo* info, float* kp);
  // 1 loaded, 0 loading, -1 failed (failure then receives the model's text).
  int32_t ready(std::string* failure);
  UttStats stats();
  // Where the time went so far: what the stage report prints at destruction.
  StageTotals stageTotals();
  // The failures noted so far and the latest text; true once a sticky one was noted.
  bool renderStatus(std::string* text, int64_t* count);
  void noteRenderFail(const char* stage, const std::string& text, bool sticky);

  // Arms the teeth stage with `borrow`, replacing any earlier one: the counters, text and failure
  // are reset, `geometry` is kept for teethGeometry, and the teeth thread starts when pasting is
  // pipelined.
  void attachTeeth(std::shared_ptr<tessera::StreamBorrow> borrow, std::string geometry);
  // 0 without a borrow, 1 with one, -1 once it refused or failed; the counters and the latest text.
  int32_t teethStats(uint64_t* applied, uint64_t* refused, std::string* text);
  // The borrow's synthesis statistics; false without a borrow or before its first synthesised frame.
  bool teethSynth(double* mean, double* largest, int64_t* frames);
  // False without a borrow.
  bool teethGeometry(std::string* text);
  // The idle keypoints of every driver frame (nt x 63), empty when the motion directory has none.
  const std::vector<float>& xsTarget() const { return xsTarget_; }

  const Manifest& manifest() const { return session_.manifest; }
  size_t frameBytes() const { return frameBytes_; }
  const UttSettings& settings() const { return settings_; }

 private:
  // The frame loop's own state; only the loop thread touches it.
  struct Loop {
    int32_t state = 0;  // 0 idle, 1 onset, 2 speech, 3 blend
    int32_t idleRow = 0;
    bool inUtterance = false;
    bool endSeen = false;
    bool endSent = false;
    bool speechRendered = false;
    bool firstRequest = false;
    bool requestOutstanding = false;
    bool waitingForBatch = false;
    std::deque<ModelFrame> buffer;
    std::vector<float> pendingAudio;
    int64_t modelTotal = -1;
    int64_t modelAvailable = 0;
    int64_t framesPulled = 0;
    int32_t ordinal = 0;
    int32_t eager = 3;
    int32_t eagerSent = 0;
    Keypoints blendOffset{};
    int32_t blendLength = 0;
    int32_t blendRemaining = 0;
    int32_t lastSpeechRow = 0;
    Keypoints lastSpeechKp{};
    uint64_t generation = 0;
    std::vector<int32_t> batchRows;  // a batch's render arguments, kept to spare allocations
    std::vector<float> batchXs;
    std::vector<float> batchKp;
  };

  // What one pass of the loop read under the main mutex.
  struct Pass {
    std::vector<float> audio;
    bool end = false;
    uint64_t generation = 0;
    uint64_t ringFill = 0;
    uint64_t pasteFill = 0;
    AudioModel* model = nullptr;
    Renderer* chunk = nullptr;
    double lastPushMs = 0;
  };

  void run();
  void warm();
  void pasteLoop();

  Pass beginPass();
  void collectJob();
  void takeAudio(Pass& pass);
  void openUtterance();
  void detectEnd(const Pass& pass);
  void chooseEager(const Pass& pass);
  void dispatch(const Pass& pass);
  bool produce(const Pass& pass);
  bool produceSpeech(const Pass& pass);
  bool utteranceComplete() const;
  void closeUtterance();
  void beginBlend(int32_t row, const Keypoints& kp, int32_t length);
  void handleInterrupt(uint64_t generation);
  void setState(int32_t state);
  void advanceIdleRow(int32_t row);

  void renderSpeech(size_t n, Renderer* chunk);
  void dropFrames(size_t n);
  void produceRamp();
  bool produceIdle();
  bool enqueue(PasteJob job);
  // Straight to the paste; a wait for queue space is added to *waitedMs under the main mutex when
  // given (the render stage's wait), and not counted when the teeth thread is the one waiting.
  bool enqueueRaw(PasteJob job, double* waitedMs);
  bool pasteInto(PasteJob& job);
  void recordDelivery(const PasteJob& job);

  // The teeth stage (teeth_stage.cc): between render and paste, inline or on the teeth thread.
  bool routesToTeeth();
  void tessLoop();
  bool tessStage(PasteJob& job);
  bool tessEmitHeld(tessera::StreamBorrow& borrow, tessera::FrameResult& result);
  bool tessDrain(tessera::StreamBorrow& borrow);
  // Hands the held crop to the paste as it now is and empties the held slot.
  void tessPassHeld();
  // A new interrupt generation: the held crop is discarded and the borrow flushed.
  void tessRestart(uint64_t generation);
  void tessDiscardHeld();
  void tessFail(const std::string& text, bool refusal);
  // Adds the time of a push since start to the teeth time, counts the job and copies the borrow's
  // synthesis statistics where the host's calls can read them.
  void timedTeeth(double start, const tessera::StreamBorrow& pushedInto);
  // A stage's jobs between the thread that makes them and the thread that takes them, under mutex_.
  struct StageQueue {
    std::deque<PasteJob> jobs;
    std::condition_variable ready;
    std::condition_variable space;
    bool stop = false;
  };
  bool enqueueOn(StageQueue& queue, PasteJob job, double* waitedMs);
  // The next job of the current generation (stale ones are recycled on the way), or nothing once the
  // stage stops; lock holds mutex_.
  std::optional<PasteJob> nextJob(std::unique_lock<std::mutex>& lock, StageQueue& queue);

  int32_t startingEager() const;
  std::unique_ptr<Renderer> buildChunkRenderer();
  void warmRenders(Renderer* chunk);
  PasteJob makeJob(const float* crop, int32_t kind, int32_t row, int32_t ordinal, const Keypoints& kp,
                   double stampMs);
  void recycle(PasteJob& job);  // with the main mutex held
  const float* idlePose(int32_t row) const;
  bool stale(uint64_t generation) const;

  SessionParts session_;
  UttSettings settings_;
  int32_t nt_;
  size_t frameBytes_;
  size_t cropFloats_;
  std::vector<float> xsTarget_;  // nt x 63, or empty

  std::mutex mutex_;  // the main mutex
  std::condition_variable cv_;
  std::vector<float> input_;
  bool endFlag_ = false;
  std::atomic<uint64_t> generation_{0};
  std::atomic<bool> shutdown_{false};
  double lastPushMs_ = 0;
  double firstPushMs_ = 0;
  bool firstPushSet_ = false;
  double utteranceStartMs_ = 0;  // the first push of the utterance being spoken
  std::unique_ptr<AudioModel> model_;
  int32_t modelState_ = 0;  // 0 loading, 1 loaded, -1 failed
  std::string modelFailure_;
  std::unique_ptr<Renderer> chunkRenderer_;
  FrameRing ring_;
  bool lastPulledValid_ = false;
  FrameInfo lastPulled_;
  Keypoints lastPulledKp_{};
  UttStats stats_;
  int64_t renderFailures_ = 0;
  std::string renderFailText_;
  bool renderFailed_ = false;
  StageQueue pasteQueue_;
  int32_t pastesInFlight_ = 0;  // jobs the paste thread took and has not finished
  std::vector<std::vector<float>> spareCrops_;
  StageTotals totals_;
  std::atomic<int32_t> state_{0};

  std::shared_ptr<tessera::StreamBorrow> borrow_;
  StageQueue teethQueue_;
  uint64_t teethApplied_ = 0;
  uint64_t teethRefused_ = 0;
  std::string teethText_;
  bool teethFailed_ = false;
  std::string teethGeometry_;
  tessera::TeethStats teethSynth_;
  // The stage's own: only the thread that runs it (the teeth thread, or the frame loop) touches them.
  struct Held {
    bool held = false;
    PasteJob job;
    std::shared_ptr<tessera::StreamBorrow> borrow;  // the borrow the held crop went into
    uint64_t generation = 0;
  } tess_;

  Loop loop_;  // the frame loop's alone
  std::unique_ptr<AudioDispatcher> dispatcher_;
  std::thread runThread_;
  std::thread warmThread_;
  std::thread pasteThread_;
  std::thread tessThread_;
};

}  // namespace ko::utt
