#include "renderer/renderer.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "graph/graph.h"
#include "pool/pool.h"
#include "renderer/host_keypoints.h"
#include "renderer/renderer_impl.h"
#include "renderer/rewrite_sequence.h"
#include "renderer/session_builder.h"

namespace ko {
namespace {

std::vector<int64_t> shapeOf(const Ort::TypeInfo& info) {
  return info.GetTensorTypeAndShapeInfo().GetShape();
}

// Steps 2 and 4: the NEON backend is never available here, and a CoreML refusal falls back to the CPU.
void buildSessions(Renderer::Impl& impl, int threads, const Manifest& manifest, const Identity& identity,
                   const std::string& modelKey, std::string ep) {
  if (ep == "neon" || (ep.empty() && envEquals("KO_CONV_BACKEND", "neon"))) {
    std::fprintf(stderr, "[ko] fp16 NEON backend requested but unavailable on this build/CPU; using ORT\n");
    ep.clear();
  }
  prepareLipContour(impl, manifest);
  try {
    buildDirectorSessions(impl, threads, manifest, identity, modelKey, ep);
  } catch (const std::exception& failure) {
    if (!ep.starts_with("coreml")) throw;
    std::fprintf(stderr, "[ko] CoreML EP session refused: %s — falling back to the ORT CPU EP\n",
                 failure.what());
    buildDirectorSessions(impl, threads, manifest, identity, modelKey, "");
  }
}

std::string coremlUnits(const std::string& ep) {
  const std::string text = ep.size() < 8 ? "all" : ep.substr(7);
  if (text == "cpu") return "CPUOnly";
  if (text == "gpu") return "CPUAndGPU";
  if (text == "ane") return "CPUAndNeuralEngine";
  return "ALL";
}

std::string keypointRefusal(const std::string& path, const std::string& input, int64_t rows) {
  const std::string contract = std::to_string(kHostKpRows);
  std::string text = "Renderer: HOST KEYPOINT CONTRACT MISMATCH on " + path + " — the graph declares " +
                     input + " with " + std::to_string(rows) + " keypoint rows, and this renderer feeds " +
                     contract + " (ko::kHostKpRows, ko/ko.h). ";
  if (rows == kHostKpRows + 1) {
    text +=
        "That is the recipe_v4 / kd_v4 shape: row " + contract +
        " is the WIDTH ROW (wn, seal, 0), fed from the a2x encoder's second output. This engine has no width "
        "feed (see ko_a2x_width / ko_a2x_pull_wn in ko/ko_a2x.h, which nothing on this path calls yet), so "
        "it "
        "cannot drive this director. ";
  }
  return text +
         "REFUSING AT LOAD rather than dying inside ORT at the first Run. This build must not have been "
         "published "
         "to a host that links this renderer: training/recipe/host_kp_contract is the publish gate that "
         "exists to "
         "prevent it.";
}

// Steps 5 to 7: what the graph takes.
void readGraphInputs(Renderer::Impl& impl, const std::string& path) {
  Ort::AllocatorWithDefaultOptions allocator;
  const size_t count = impl.session->GetInputCount();
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    names.emplace_back(impl.session->GetInputNameAllocated(i, allocator).get());
    if (names.back() == "fs_red") impl.featSynth = true;
  }
  const std::string pooledName = impl.featSynth ? "pooled" : "pooled64";
  impl.batch = 0;
  for (size_t i = 0; i < count; ++i) {
    if (names[i] != pooledName) continue;
    const std::vector<int64_t> shape = shapeOf(impl.session->GetInputTypeInfo(i));
    if (shape.size() == 4 && shape[0] > 0) impl.batch = static_cast<int32_t>(shape[0]);
  }
  if (impl.batch == 0) throw std::runtime_error(pooledName + " input not found / bad shape");
  const std::string driving = impl.featSynth ? "kd" : "kp_driving",
                    source = impl.featSynth ? "ks" : "kp_source";
  for (size_t i = 0; i < count; ++i) {
    if (names[i] != driving && names[i] != source) continue;
    const std::vector<int64_t> shape = shapeOf(impl.session->GetInputTypeInfo(i));
    if (shape.size() == 3 && shape[1] > 0 && shape[1] != kHostKpRows) {
      throw std::runtime_error(keypointRefusal(path, names[i], shape[1]));
    }
  }
}

// Step 8.
void sizeBuffers(Renderer::Impl& impl) {
  const size_t B = static_cast<size_t>(impl.batch), crop = static_cast<size_t>(impl.crop);
  impl.priorPerFrame = static_cast<int64_t>(3 * crop * crop);
  impl.pooled.assign(B * static_cast<size_t>(impl.pooledPerFrame), 0.0f);
  impl.kpDriving.assign(B * 3 * kHostKpRows, 0.0f);
  impl.kpSource.assign(B * 3 * kHostKpRows, 0.0f);
  impl.rgb.assign(B * 3 * crop * crop, 0.0f);
  if (impl.featSynth) {
    if (!impl.identity->hasFsRed()) throw std::runtime_error("FeatSynth graph but bundle lacks fs_red.f16");
    impl.fsRed.assign(B * static_cast<size_t>(impl.fsRedPerFrame), 0.0f);
    return;
  }
  if (!impl.identity->hasPrior()) {
    throw std::runtime_error(
        "m4b graph (P_rgb input) but this bundle carries no warp prior: neither P.f16, nor fs_red.f16, nor a "
        "P_hevc.mov to play in place is present, so ko::Identity mapped NOTHING and Identity::P(si) would be "
        "an "
        "offset from a null pointer — a SEGFAULT on the first frame, not a refusal. REFUSING to create a "
        "session.");
  }
  impl.prior.assign(B * static_cast<size_t>(impl.priorPerFrame), 0.0f);
}

Ort::Value tensorOver(const Ort::MemoryInfo& memory, std::vector<float>& values, std::vector<int64_t> shape) {
  return Ort::Value::CreateTensor<float>(memory, values.data(), values.size(), shape.data(), shape.size());
}

// Step 10: the ring, the prep binding and its prior, and the worker.
void prepareRing(Renderer::Impl& impl, const Ort::MemoryInfo& memory) {
  const int64_t B = impl.batch, crop = impl.crop;
  const int64_t channels = impl.boundaryElems / (crop * crop * B);
  for (int i = 0; i < 2; ++i) {
    auto slot = std::make_unique<RingSlot>();
    slot->values.assign(static_cast<size_t>(impl.boundaryElems), 0.0f);
    slot->tensor = tensorOver(memory, slot->values, {B, channels, crop, crop});
    impl.ring.push_back(std::move(slot));
  }
  impl.prepBinding = std::make_unique<Ort::IoBinding>(*impl.prepSession);
  impl.prepPrior = tensorOver(memory, impl.prior, {B, 3, crop, crop});
  impl.prepBinding->BindInput("P_rgb", impl.prepPrior);
  impl.startWorker();
}

// Step 11.
void bindBuffers(Renderer::Impl& impl, const Ort::MemoryInfo& memory) {
  const int64_t B = impl.batch, crop = impl.crop, rows = kHostKpRows;
  auto bind = [&](const char* name, std::vector<float>& values, std::vector<int64_t> shape) {
    impl.bound.push_back(tensorOver(memory, values, std::move(shape)));
    impl.binding->BindInput(name, impl.bound.back());
  };
  if (impl.featSynth) {
    bind("fs_red", impl.fsRed, {B, 64, 64, 64});
    bind("pooled", impl.pooled, {B, 64, 32, 32});
    bind("kd", impl.kpDriving, {B, rows, 3});
    bind("ks", impl.kpSource, {B, rows, 3});
  } else {
    bind("pooled64", impl.pooled, {B, 64, 32, 32});
    if (!impl.prepSession) bind("P_rgb", impl.prior, {B, 3, crop, crop});
    bind("kp_driving", impl.kpDriving, {B, rows, 3});
    bind("kp_source", impl.kpSource, {B, rows, 3});
  }
  if (impl.lipBound) {
    impl.lipDelivery.assign(static_cast<size_t>(B * crop * crop), 1.0f);
    bind(kLipInputName, impl.lipDelivery, {B, 1, crop, crop});
  }
  impl.bound.push_back(tensorOver(memory, impl.rgb, {B, 3, crop, crop}));
  impl.binding->BindOutput("rgb", impl.bound.back());
}

}  // namespace

Renderer::Impl::Impl() : env(ORT_LOGGING_LEVEL_WARNING, "ko") {}

Renderer::Impl::~Impl() {
  stopWorker();
  if (!profiling || !session) return;
  if (runCount > 0) {
    std::fprintf(stderr, "[ko_ort_profile] %ld frames: %.2f ms/frame in Session::Run\n",
                 static_cast<long>(runCount), runMs / static_cast<double>(runCount));
  }
  try {
    Ort::AllocatorWithDefaultOptions allocator;
    std::fprintf(stderr, "[ko_ort_profile] %s\n", session->EndProfilingAllocated(allocator).get());
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "[ko_ort_profile] FAILED: %s\n", failure.what());
  }
}

Renderer::Renderer(const Manifest& manifest, const Identity& identity, const std::string& modelKey,
                   int threads, const std::string& ep)
    : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  impl.identity = &identity;
  impl.crop = manifest.crop;
  if (threads < 1) threads = pool::threads();
  buildSessions(impl, threads, manifest, identity, modelKey, ep);
  readGraphInputs(impl, manifest.modelPath(modelKey));
  sizeBuffers(impl);
  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  impl.binding = std::make_unique<Ort::IoBinding>(*impl.session);
  if (impl.prepSession) prepareRing(impl, memory);
  bindBuffers(impl, memory);
}

Renderer::~Renderer() = default;
Renderer::Renderer(Renderer&&) noexcept = default;
Renderer& Renderer::operator=(Renderer&&) noexcept = default;

int32_t Renderer::batch() const {
  return impl_->batch;
}
const std::string& Renderer::ep() const {
  return impl_->ep;
}
std::string Renderer::backend() const {
  return "ort";
}
const std::string& Renderer::directorNote() const {
  return impl_->directorNote;
}

RenderStats Renderer::stats() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return {.hits = impl_->hits, .misses = impl_->misses, .runCount = impl_->runCount, .runMs = impl_->runMs};
}

const float* Renderer::render(const int32_t* si, const float* kpSource, const float* kpDriving, int n) {
  return impl_->render(si, kpSource, kpDriving, n);
}

std::string coremlCacheDir(const std::string& bundleDir) {
  const std::string version = Ort::GetVersionString();
  return bundleDir + "/.coreml_cache/ort" + (version.empty() ? "unknown" : version);
}

void appendCoremlProvider(Ort::SessionOptions& options, const std::string& ep, const std::string& bundleDir) {
  options.AppendExecutionProvider("CoreML", {{"ModelFormat", "MLProgram"},
                                             {"MLComputeUnits", coremlUnits(ep)},
                                             {"ModelCacheDirectory", coremlCacheDir(bundleDir)}});
}

}  // namespace ko
