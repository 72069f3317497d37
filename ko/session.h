// The session behind a ko_ctx handle: one identity opened for a render-and-paste loop. Members are
// declared in the order they are built, so a failed open unwinds (and ko_destroy frees) them in
// reverse: the frame buffer and the driver cursor first, the manifest last. The renderer, built later
// by the first render call, sits before the paste so it is freed after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "driver/driver.h"
#include "paste/paste.h"
#include "renderer/renderer.h"

struct ko_ctx {
  ko::Manifest manifest;
  std::unique_ptr<ko::Identity> identity;
  ko::Drive drive;
  std::unique_ptr<ko::Renderer> renderer;  // built by the first render call; freed after the paste
  std::unique_ptr<ko::Paste> paste;
  int32_t threads = 0;         // what renderers get: the caller's count, else the pool's size
  std::string ep;              // the execution provider asked for, "" for the default
  bool threadsChosen = false;  // the caller passed a thread count of at least 1
  std::string modelKey;        // the director is "model_" + modelKey + ".onnx"
  std::unique_ptr<ko::DriverCursor> driver;
  std::vector<uint8_t> frame;  // W x H x 3, what ko_paste_last pastes into
  const float* lastCrop = nullptr;

  bool hasSource(int si) const { return si >= 0 && si < manifest.NT; }
  size_t framePixels() const { return static_cast<size_t>(manifest.W) * static_cast<size_t>(manifest.H); }
};

namespace ko {

// Builds a session for ko_create: manifest, identity, drive tables, paste (with the bundle's mask),
// driver cursor (look-ahead 2, history 11) and the frame buffer. Throws the failing step's sentence.
std::unique_ptr<ko_ctx> openSession(const std::string& bundle, const std::string& modelKey, int threads,
                                    const char* ep);

// Intra-op threads of the session's directors: the caller's count, or at most 2 of the pool when the
// caller chose neither threads nor a provider.
int32_t directorThreads(const ko_ctx& ctx);

// The session's director, built on first use. A caller that chose neither threads nor a provider
// leaves the pool's other cores to the utterance pipeline that runs beside the director, and is told
// so on standard error. Throws the renderer's refusal.
Renderer& sessionRenderer(ko_ctx& ctx);

// The paste mask member "mask_512.u8": its first crop x crop bytes. Throws "mask read failed" when it
// does not open or is shorter.
std::vector<uint8_t> readPasteMask(const Manifest& manifest);

}  // namespace ko
