#include "renderer/session_builder.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graph/graph.h"
#include "pool/pool.h"
#include "renderer/rewrite_sequence.h"

namespace ko {
namespace {

std::vector<uint8_t> readModel(const std::string& path) {
  try {
    return readBytes(path);
  } catch (const std::runtime_error& failure) {
    const bool opened = !std::string_view(failure.what()).starts_with("cannot open");
    throw std::runtime_error((opened ? "Renderer: short read on " : "Renderer: cannot open ") + path);
  }
}

void freshOptions(Renderer::Impl& impl, int threads) {
  impl.prepBinding.reset();
  impl.prepSession.reset();
  impl.ring.clear();
  impl.session.reset();
  impl.boundaryName.clear();
  impl.boundaryElems = 0;
  impl.sessionOptions = Ort::SessionOptions();
  impl.sessionOptions.SetIntraOpNumThreads(threads);
  impl.sessionOptions.SetInterOpNumThreads(1);
  impl.sessionOptions.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
  if (!envStartsWith("KO_ORT_SPIN", '1'))
    impl.sessionOptions.AddConfigEntry("session.intra_op.allow_spinning", "0");
  impl.sessionOptions.AddConfigEntry("mlas.disable_kleidiai", "1");
  const std::optional<std::string> profile = envNonEmpty("KO_ORT_PROFILE");
  impl.profiling = profile.has_value();
  if (profile) impl.sessionOptions.EnableProfiling(profile->c_str());
}

ProviderKind chooseProvider(Renderer::Impl& impl, const Manifest& manifest, const std::string& ep) {
  if (ep.empty()) return {};
  if (ep.starts_with("xnnpack")) {
    throw std::runtime_error("Renderer: ep '" + ep +
                             "' is REFUSED. This renderer rewrites its graph to Quandrel custom-domain nodes "
                             "(com.quandrel::GridSampleFast, and com.quandrel::WarpDirector wherever "
                             "KO_WARP_NODE is on), and ORT's "
                             "XNNPACK execution provider SEGFAULTS while partitioning a graph that carries "
                             "them — measured 2026-09-15 "
                             "on a published velmora2-android AAR, null deref inside libonnxruntime.so at "
                             "session create, on both a "
                             "door-served and a hand-staged copy of the same identity. It is a signal, not "
                             "an exception, so it cannot "
                             "be caught and reported. Use the default ep (\"\", the ORT CPU EP), which opens "
                             "the same bundle on the "
                             "same bytes.");
  }
  if (!ep.starts_with("coreml")) throw std::runtime_error("Renderer: unknown ep '" + ep + "'");
  appendCoremlProvider(impl.sessionOptions, ep, manifest.dir);
  return {.coreml = true, .units = ep.size() < 8 ? "all" : ep.substr(7)};
}

// Step 5: the custom-operator domains, and whether the GridSample rewrite runs.
bool registerDomains(Renderer::Impl& impl, const std::vector<uint8_t>& model, const std::string& path,
                     const std::string& modelKey, const ProviderKind& provider) {
  bool rewrite = false;
  if (!envStartsWith("KO_GS_FAST", '0')) {
    registerGridSampleFast(impl.sessionOptions);
    rewrite = !envStartsWith("KO_GS_REWRITE", '0');
    if (!rewrite && !provider.coreml) {
      std::fprintf(
          stderr,
          "[ko] KO_GS_REWRITE=0: load-time std GridSample -> com.quandrel::GridSampleFast rewrite DISABLED "
          "(%s); the custom op is still registered, so a baked bundle loads and runs its baked kernel. A "
          "standard bundle now runs ORT's own GridSample.\n",
          modelKey.c_str());
    }
  } else if (graphHasBakedGridSampleFast(model)) {
    throw std::runtime_error(
        "Renderer: KO_GS_FAST=0 (or QUANDREL_VELMORA2_GRIDSAMPLE_FAST=0, which sets it) was asked for, but " +
        path +
        " has com.quandrel::GridSampleFast BAKED INTO THE GRAPH. That flag disables the custom-op "
        "registration, so "
        "there would be no kernel to bind and this session would die inside ORT with 'GridSampleFast(-1) is "
        "not a "
        "registered function/op'. There is no standard-GridSample arm on this bundle to measure: the "
        "artifact "
        "itself is non-standard. Run the A/B on a STANDARD-ONNX bundle (the shipping format since "
        "INFERENCE_STANDARDIZATION.md #1), or unset the flag to load this one.");
  }
  registerInt8ConvVNNI(impl.sessionOptions);
  return rewrite;
}

}  // namespace

void buildDirectorSessions(Renderer::Impl& impl, int threads, const Manifest& manifest,
                           const Identity& identity, const std::string& modelKey, const std::string& ep) {
  freshOptions(impl, threads);
  const ProviderKind provider = chooseProvider(impl, manifest, ep);
  const std::string path = manifest.modelPath(modelKey);
  std::vector<uint8_t> model = readModel(path);
  const bool gridSampleRewrite = registerDomains(impl, model, path, modelKey, provider);
  const bool changed = runRewriteSequence(impl, model,
                                          {.manifest = manifest,
                                           .identity = identity,
                                           .modelKey = modelKey,
                                           .provider = provider,
                                           .gridSampleRewrite = gridSampleRewrite});
  if (!impl.session) {
    impl.session = changed ? sessionOnWritten(impl.env, model, impl.sessionOptions)
                           : std::make_unique<Ort::Session>(impl.env, path.c_str(), impl.sessionOptions);
  }
  impl.ep = ep.empty() ? "cpu" : ep;
  std::fprintf(stderr, "[ko] director ep=%s (%s)\n", impl.ep.c_str(),
               provider.coreml
                   ? "ORT CoreML EP; unclaimed nodes on the CPU EP; std GridSample kept in the graph"
                   : "ORT CPU EP");
}

}  // namespace ko
