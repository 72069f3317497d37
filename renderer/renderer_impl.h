// What a Renderer holds: the per-frame session with its bound buffers and, when the source cone was
// split off at load, the prep session, its two-slot ring and the worker that fills it ahead of time.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bundle/bundle.h"
#include "renderer/renderer.h"
#include "renderer/source_prediction.h"
#include "tessera/tessera.h"

namespace ko {

// One prepared source frame: the boundary tensor of source index si (-1 while empty or being filled).
struct RingSlot {
  int32_t si = -1;
  std::vector<float> values;
  Ort::Value tensor{nullptr};
};

struct Renderer::Impl {
  Impl();
  ~Impl();

  // Per-frame run (render_run.cc).
  const float* render(const int32_t* si, const float* kpSource, const float* kpDriving, int n);
  int acquire(int32_t si);
  void runPrepL(int32_t si, int slot, std::unique_lock<std::mutex>& lock);
  void schedulePrefetchL(int32_t next);
  void workerLoop();
  void fillUnsplit(const int32_t* si, const float* kpSource, const float* kpDriving, int n);
  void deliverLips(const float* kpDriving, size_t slot);
  void run();
  void startWorker();
  void stopWorker();

  std::string ep;
  Ort::Env env;
  Ort::SessionOptions sessionOptions;
  std::unique_ptr<Ort::Session> session;
  std::unique_ptr<Ort::IoBinding> binding;
  Ort::RunOptions runOptions;
  bool profiling = false;
  double runMs = 0;
  int64_t runCount = 0;

  const Identity* identity = nullptr;
  int32_t batch = 0;
  int32_t crop = 0;
  int64_t pooledPerFrame = 65536;
  int64_t priorPerFrame = 0;
  int64_t fsRedPerFrame = 262144;
  bool featSynth = false;
  std::vector<float> pooled, prior, fsRed, kpDriving, kpSource, rgb;
  std::vector<Ort::Value> bound;

  std::string directorNote;

  // The identity's lip contour (from its lip template) and, once the graph reads it, the
  // "lip_delivery" buffer it is rasterised into before every run: batch x 1 x crop x crop.
  std::unique_ptr<tessera::LipContour> lipContour;
  bool lipBound = false;
  std::vector<float> lipDelivery;

  std::unique_ptr<Ort::Session> prepSession;
  std::unique_ptr<Ort::IoBinding> prepBinding;
  Ort::Value prepPrior{nullptr};
  std::string boundaryName;
  int64_t boundaryElems = 0;
  std::vector<std::unique_ptr<RingSlot>> ring;
  std::thread worker;
  std::mutex mutex;
  std::condition_variable cv;
  int32_t pendingSi = -1, pendingSlot = -1, inUseSlot = -1;
  bool stop = false;
  std::string workerError;
  SourcePrediction prediction;
  int64_t hits = 0, misses = 0;
};

}  // namespace ko
