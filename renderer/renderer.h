// The face renderer: one director network of a bundle as a ready-to-run ONNX Runtime session whose
// inputs and outputs are bound once to buffers the renderer owns. The subsystem's door.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bundle/bundle.h"
#include "renderer/host_keypoints.h"  // IWYU pragma: export

namespace Ort {
struct SessionOptions;
}

namespace ko {

// Ring and run counters of one renderer, for hosts and tests that watch the prefetch work.
struct RenderStats {
  int64_t hits = 0;      // source-cone ring hits
  int64_t misses = 0;    // source frames the caller had to prepare itself
  int64_t runCount = 0;  // per-frame session runs
  double runMs = 0;      // their total wall time
};

class Renderer {
 public:
  // Builds the sessions of the member "model_" + modelKey + ".onnx" and binds their buffers. threads
  // below 1 takes the pool's size; ep is "" (ONNX Runtime's CPU provider) or "coreml[:unit]".
  // Throws a runtime error carrying a whole sentence on any refusal.
  Renderer(const Manifest& manifest, const Identity& identity, const std::string& modelKey, int threads,
           const std::string& ep);
  ~Renderer();
  Renderer(Renderer&&) noexcept;
  Renderer& operator=(Renderer&&) noexcept;
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  int32_t batch() const;
  const std::string& ep() const;
  std::string backend() const;
  const std::string& directorNote() const;
  RenderStats stats() const;

  // Renders n (1..batch) crops: source frames si[0..n), keypoint sets of 21 x 3 floats each. Returns
  // batch crops of 3 x crop x crop planar floats, the first n meaningful, valid until the next call.
  const float* render(const int32_t* si, const float* kpSource, const float* kpDriving, int n);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Where the CoreML provider keeps its compiled models for a bundle: dir + "/.coreml_cache/ort" + the
// ONNX Runtime version.
std::string coremlCacheDir(const std::string& bundleDir);

// Appends ONNX Runtime's CoreML provider for an ep text starting with "coreml": model format
// "MLProgram", the unit set from the text's eighth character on ("cpu", "gpu", "ane", else all) and
// the bundle's cache directory. Throws ONNX Runtime's refusal where the runtime has no CoreML.
void appendCoremlProvider(Ort::SessionOptions& options, const std::string& ep, const std::string& bundleDir);

}  // namespace ko
