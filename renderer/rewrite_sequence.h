// The fixed sequence of load-time rewrites a director's graph goes through before its per-frame
// session is created. Each rewrite may decline; a decline prints its line and the sequence continues
// with the graph as it stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "renderer/renderer_impl.h"

namespace ko {

// The execution provider the sequence plans for.
struct ProviderKind {
  bool coreml = false;
  std::string units;  // CoreML's unit set: "all", "cpu", "gpu", "ane", ...
};

struct RewriteRequest {
  const Manifest& manifest;
  const Identity& identity;
  const std::string& modelKey;
  ProviderKind provider;
  bool gridSampleRewrite = false;
};

// Step 1, run by construction before the sessions are built: impl's lip contour from the bundle's lip
// template (none without one). A template that cannot be read throws its own sentence.
void prepareLipContour(Renderer::Impl& impl, const Manifest& manifest);

// Steps 2 to 9 over `model`, edited in place: the lip contour spliced (compose v2) or bound into the
// graph when impl has one, which sets impl.lipBound. May create impl's prep session and, with it, the
// per-frame session from the per-frame graph. Returns whether the bytes changed.
bool runRewriteSequence(Renderer::Impl& impl, std::vector<uint8_t>& model, const RewriteRequest& request);

// A session on a graph the sequence wrote, without the initializers its rewrites left unread.
std::unique_ptr<Ort::Session> sessionOnWritten(Ort::Env& env, std::vector<uint8_t>& model,
                                               const Ort::SessionOptions& options);

}  // namespace ko
