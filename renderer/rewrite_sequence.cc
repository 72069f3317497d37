#include "renderer/rewrite_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "graph/graph.h"
#include "pool/pool.h"
#include "tessera/tessera.h"

namespace ko {
namespace {

constexpr const char* kLipTemplateMember = "lip_template.v1.json";

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
  std::unique_ptr<Ort::Session> prep = sessionOnWritten(impl.env, prepGraph, prepOptions());
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
  impl.session = sessionOnWritten(impl.env, perFrameGraph, impl.sessionOptions);
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

// Step 2: the template's compose v2 structure for this director, spliced before any other rewrite
// because the structure is bound to the member's exact bytes. Returns whether it spliced.
bool spliceComposeV2Step(std::vector<uint8_t>& model, const RewriteRequest& request) {
  std::vector<uint8_t> structure;
  std::string source, reason, structureDigest;
  const int found = tessera::composeV2StructureFromTemplate(request.manifest.lipTemplate,
                                                            "model_" + request.modelKey + ".onnx", structure,
                                                            source, reason, &structureDigest);
  if (found == 0) return false;
  int32_t canvas = 0;
  if (found > 0 && spliceComposeV2(model, structure, reason, source, &canvas, nullptr, structureDigest)) {
    if (canvas != request.manifest.crop) {
      throw std::runtime_error("Renderer: the compose v2 graph's lip_delivery canvas is " +
                               std::to_string(canvas) + " and this bundle's manifest declares crop " +
                               std::to_string(request.manifest.crop) +
                               " — refusing to feed a lip contour rasterised on the wrong canvas");
    }
    return true;
  }
  std::fprintf(stderr,
               "[ko] !!! compose v2 NOT spliced (%s): %s — this session falls back to the load-time "
               "lip-contour bind (staged rollout)\n",
               request.modelKey.c_str(), orNoReason(reason));
  return false;
}

// Step 6: Min(alpha, lip_delivery) when the splice did not apply; without a lip contour, the line that
// says the graph's ellipse is served. Returns whether it bound.
bool bindLipContourStep(const Renderer::Impl& impl, std::vector<uint8_t>& model,
                        const RewriteRequest& request) {
  const char* key = request.modelKey.c_str();
  if (!impl.lipContour) {
    std::fprintf(
        stderr,
        "[ko] !!! compose alpha: ELLIPSE (%s) — this bundle carries no %s, so the director generates the "
        "over-covering elliptical region the contour replaces. BACKFILL IT: "
        "models/velmora-2/tools/carry_lip_template_fleet\n",
        key, kLipTemplateMember);
    return false;
  }
  std::string reason;
  int32_t canvas = 0;
  if (!rewriteBindLipContour(model, reason, &canvas, nullptr)) {
    std::fprintf(stderr,
                 "[ko] !!! lip contour NOT bound to the compose alpha (%s): %s — this session serves the "
                 "graph's own ELLIPSE\n",
                 key, orNoReason(reason));
    return false;
  }
  if (canvas != request.manifest.crop) {
    throw std::runtime_error("Renderer: the director's compose canvas is " + std::to_string(canvas) +
                             " and this bundle's manifest declares crop " +
                             std::to_string(request.manifest.crop) +
                             " — refusing to bind a lip contour rasterised on the wrong canvas");
  }
  return true;
}

// Step 8: the rewrites that changed something, in their fixed order.
void reportRewrites(size_t gridSamples, size_t blends, size_t cubics, const char* key) {
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
}

void reportLipContour(const tessera::LipContour& contour, bool spliced, const char* key) {
  if (spliced) {
    std::fprintf(
        stderr,
        "[ko] compose: COMPOSE V2 (%s) — lip contour + mouth-window compose + seam match, spliced at "
        "load from the structure %s carries (sha-bound to this member); lip_delivery fed from the %s "
        "contour, %d verts, feather %.1f px\n",
        key, kLipTemplateMember, contour.hasLipMap() ? "lip-map-v1" : "plate-template-v1",
        contour.vertexCount(), static_cast<double>(contour.feather()));
    return;
  }
  std::fprintf(stderr,
               "[ko] compose alpha: LIP CONTOUR (%s) — Min(a, lip_delivery) bound at load, %d verts, feather "
               "%.1f px; the graph's ellipse is not reachable in this session\n",
               key, contour.vertexCount(), static_cast<double>(contour.feather()));
}

}  // namespace

void prepareLipContour(Renderer::Impl& impl, const Manifest& manifest) {
  impl.lipContour.reset();
  impl.lipBound = false;
  if (manifest.lipTemplate.empty()) return;
  impl.lipContour = std::make_unique<tessera::LipContour>(
      tessera::LipContour::fromTemplateJson(manifest.lipTemplate, manifest.crop));
}

bool runRewriteSequence(Renderer::Impl& impl, std::vector<uint8_t>& model, const RewriteRequest& request) {
  const char* key = request.modelKey.c_str();
  impl.lipBound = false;
  const bool spliced = impl.lipContour && !model.empty() && spliceComposeV2Step(model, request);
  bool changed = spliced;
  bool warpMoved = false;
  if (envSwitchedOn("KO_WARP_NODE") && !request.provider.coreml) {
    warpMoved = moveWarpToOneNode(impl, model);
    changed = changed || warpMoved;
  }
  size_t gridSamples = 0;
  if (request.gridSampleRewrite && !request.provider.coreml) {
    gridSamples = countingRewrite(model, rewriteGridSampleToFast, changed);
  }
  const size_t blends = countingRewrite(model, normaliseStudentBlend, changed);
  const size_t cubics = countingRewrite(model, rewriteHeadCubicResize, changed);
  const bool bound = !spliced && bindLipContourStep(impl, model, request);
  changed = changed || bound;
  hoistSourceCone(impl, model, request, warpMoved);
  reportRewrites(gridSamples, blends, cubics, key);
  if (spliced || bound) reportLipContour(*impl.lipContour, spliced, key);
  impl.lipBound = spliced || bound;
  return changed;
}

std::unique_ptr<Ort::Session> sessionOnWritten(Ort::Env& env, std::vector<uint8_t>& model,
                                               const Ort::SessionOptions& options) {
  gsDropUnreadInitializers(model);
  return std::make_unique<Ort::Session>(env, model.data(), model.size(), options);
}

}  // namespace ko
