// Turns the director member into ONNX Runtime sessions: options and provider, the library's
// custom-operator domains, the graph bytes, the load-time rewrites and the per-frame session.
#pragma once

#include <string>

#include "bundle/bundle.h"
#include "renderer/renderer_impl.h"

namespace ko {

// Fills impl's sessionOptions, session, profiling and ep, and through the rewrite sequence prepSession,
// boundaryName and boundaryElems. Starts from fresh options and no prep session, so it may run again
// after a failed attempt. Throws the refusals and ONNX Runtime's own errors.
void buildDirectorSessions(Renderer::Impl& impl, int threads, const Manifest& manifest,
                           const Identity& identity, const std::string& modelKey, const std::string& ep);

}  // namespace ko
