#include "renderer/rewrite_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "graph/graph.h"

namespace ko {
namespace {

constexpr const char* kLipTemplateMember = "lip_template.v1.json";

bool warpNodeRequested() {
  const char* value = std::getenv("KO_WARP_NODE");
  return value && value[0] != '\0' && value[0] != '0';
}

const char* orNoReason(const std::string& reason) {
  return reason.empty() ? "no reason given" : reason.c_str();
}

// Step 3: the warp block as one WarpDirector node. Returns whether the graph now carries it.
bool moveWarpToOneNode(Renderer::Impl& impl, std::vector<uint8_t>& model) {
  std::string reason;
  const size_t removed = rewriteWarpBlockToCustomOp(model, reason);
  if (removed == 0) {
    std::fprintf(stderr,
                 "[ko] director warp NOT moved to one node (%s) — the graph loads exactly as it did before\n",
                 orNoReason(reason));
    return false;
  }
  std::fprintf(
      stderr,
      "[ko] director warp -> com.quandrel::WarpDirector (%zu nodes removed, the source cone with them)\n",
      removed);
  // KO_GS_FAST=0 leaves "com.quandrel" unregistered, and the rewritten graph needs it.
  registerWarpDirector(impl.sessionOptions);
  return true;
}

Ort::SessionOptions prepOptions() {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(1);
  options.SetInterOpNumThreads(1);
  options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
  options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  options.AddConfigEntry("mlas.disable_kleidiai", "1");
  return options;
}

// Step 7's checks in order; returns an empty text on success (impl's prep and per-frame sessions set),
// else why the cone stays in the graph.
std::string splitSourceCone(Renderer::Impl& impl, const std::vector<uint8_t>& model,
                            const std::string& modelKey) {
  std::string boundary;
  const size_t concats = findSourceConeBoundary(model, boundary);
  if (concats != 1) return "expected exactly one Concat consuming P_rgb, found " + std::to_string(concats);
  std::vector<uint8_t> prepGraph;
  std::string reason;
  if (buildSourceConePrep(model, boundary, prepGraph, reason) == 0) return reason;
  auto prep = std::make_unique<Ort::Session>(impl.env, prepGraph.data(), prepGraph.size(), prepOptions());
  const std::vector<int64_t> in = prep->GetInputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
  if (in.size() != 4 || in[0] != 1) {
    return "batch-1 lever; this graph declares batch " + std::to_string(in.empty() ? 0 : in[0]);
  }
  const std::vector<int64_t> out = prep->GetOutputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
  if (out.size() != 4 || out[0] < 1 || out[1] < 1 || out[2] < 1 || out[3] < 1)
    return "boundary shape is not static";
  std::vector<uint8_t> perFrameGraph;
  if (buildSourceConePerFrame(model, boundary, out.data(), out.size(), perFrameGraph, reason) == 0)
    return reason;
  impl.session = std::make_unique<Ort::Session>(impl.env, perFrameGraph.data(), perFrameGraph.size(),
                                                impl.sessionOptions);
  impl.prepSession = std::move(prep);
  impl.boundaryName = boundary;
  impl.boundaryElems = out[0] * out[1] * out[2] * out[3];
  std::fprintf(
      stderr,
      "[ko] source-cone hoist: '%s' [%lld,%lld,%lld,%lld] leaves the per-frame graph and is prefetched per "
      "SOURCE FRAME on one spare core (%s)\n",
      boundary.c_str(), static_cast<long long>(out[0]), static_cast<long long>(out[1]),
      static_cast<long long>(out[2]), static_cast<long long>(out[3]), modelKey.c_str());
  return {};
}

// Step 7 with its preconditions; a failure anywhere inside is a decline.
void hoistSourceCone(Renderer::Impl& impl, const std::vector<uint8_t>& model, const RewriteRequest& request,
                     bool warpMoved) {
  const char* key = request.modelKey.c_str();
  if (warpMoved) {
    std::fprintf(
        stderr,
        "[ko] source-cone hoist SKIPPED (%s): the warp node subsumes the cone — there is nothing left to "
        "hoist\n",
        key);
    return;
  }
  if (request.provider.coreml && (request.provider.units == "all" || request.provider.units == "gpu")) {
    std::fprintf(
        stderr,
        "[ko] source-cone hoist NOT applied (%s): CoreML unit set '%s' can place the director on the GPU "
        "and the 12.58 MB boundary input would cross that partition every frame (measured 0.61x on an "
        "M4) — the cone stays in the graph\n",
        key, request.provider.units.c_str());
    return;
  }
  if (!request.identity.hasPrior() || model.empty()) return;
  std::string reason;
  try {
    reason = splitSourceCone(impl, model, request.modelKey);
  } catch (const std::exception& failure) {
    reason = failure.what();
  }
  if (reason.empty()) return;
  std::fprintf(stderr, "[ko] source-cone hoist NOT applied (%s): %s\n", key, reason.c_str());
  impl.prepSession.reset();
  impl.session.reset();
  impl.boundaryName.clear();
  impl.boundaryElems = 0;
}

size_t countingRewrite(std::vector<uint8_t>& model, size_t (*rewrite)(std::vector<uint8_t>&), bool& changed) {
  const size_t count = rewrite(model);
  changed = changed || count > 0;
  return count;
}

}  // namespace

void prepareLipContour(const Manifest& manifest) {
  if (manifest.lipTemplate.empty()) return;
  throw std::runtime_error(
      "Renderer: this bundle carries lip_template.v1.json, and lip templates are not supported by this build "
      "yet — refusing rather than serving the graph's ellipse instead of the bundle's lip contour");
}

bool runRewriteSequence(Renderer::Impl& impl, std::vector<uint8_t>& model, const RewriteRequest& request) {
  const char* key = request.modelKey.c_str();
  bool changed = false;
  bool warpMoved = false;
  if (warpNodeRequested() && !request.provider.coreml) {
    warpMoved = moveWarpToOneNode(impl, model);
    changed = warpMoved;
  }
  size_t gridSamples = 0;
  if (request.gridSampleRewrite && !request.provider.coreml) {
    gridSamples = countingRewrite(model, rewriteGridSampleToFast, changed);
  }
  const size_t blends = countingRewrite(model, normaliseStudentBlend, changed);
  const size_t cubics = countingRewrite(model, rewriteHeadCubicResize, changed);
  // No lip contour exists in this build (prepareLipContour refuses bundles that carry a template).
  std::fprintf(
      stderr,
      "[ko] !!! compose alpha: ELLIPSE (%s) — this bundle carries no %s, so the director generates the "
      "over-covering elliptical region the contour replaces. BACKFILL IT: "
      "models/velmora-2/tools/carry_lip_template_fleet\n",
      key, kLipTemplateMember);
  hoistSourceCone(impl, model, request, warpMoved);
  if (gridSamples > 0) {
    std::fprintf(stderr,
                 "[ko] std GridSample -> com.quandrel::GridSampleFast load-time rewrite: %zu node(s) (%s)\n",
                 gridSamples, key);
  }
  if (blends > 0) {
    std::fprintf(
        stderr,
        "[ko] L3 student blend MatMul -> Gemm load-time normalisation: %zu node(s) (%s) — a pre-2026-09-11 "
        "student; as MatMul this graph aborts Apple's MPSGraph compiler on every CoreML unit that includes "
        "the GPU\n",
        blends, key);
  }
  if (cubics > 0) {
    std::fprintf(
        stderr,
        "[ko] head cubic x2 -> Pad(edge,2)+Conv5x5(dw)+DepthToSpace(2,CRD) load-time rewrite: %zu node(s) "
        "(%s) — the same filter to fp32 round-off; ORT's cubic Resize kernel is the pole on every CPU-class "
        "EP and no CoreML/NNAPI EP can claim it\n",
        cubics, key);
  }
  return changed;
}

}  // namespace ko
