#include "ko/session.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "pool/pool.h"

namespace ko {

std::vector<uint8_t> readPasteMask(const Manifest& manifest) {
  const size_t size = static_cast<size_t>(manifest.crop) * static_cast<size_t>(manifest.crop);
  std::string bytes;
  try {
    bytes = readFile(resolveMember(manifest.dir, "mask_512.u8"));
  } catch (const std::exception&) {
    throw std::runtime_error("mask read failed");
  }
  if (bytes.size() < size) throw std::runtime_error("mask read failed");
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

std::unique_ptr<ko_ctx> openSession(const std::string& bundle, const std::string& modelKey, int threads,
                                    const char* ep) {
  auto ctx = std::make_unique<ko_ctx>();
  ctx->manifest = loadManifest(bundle);
  ctx->identity = std::make_unique<Identity>(ctx->manifest);
  ctx->drive = loadDrive(ctx->manifest);
  ctx->threadsChosen = threads >= 1;
  ctx->threads = ctx->threadsChosen ? threads : pool::threads();
  ctx->ep = ep != nullptr ? ep : "";
  ctx->modelKey = modelKey;
  const Unsharp unsharp{ctx->manifest.amount, ctx->manifest.sigma, ctx->manifest.ksize};
  ctx->paste = std::make_unique<Paste>(readPasteMask(ctx->manifest), ctx->manifest.crop, unsharp);
  ctx->driver = openBundleDriver(ctx->manifest, 2, 11);
  ctx->frame.assign(static_cast<size_t>(ctx->manifest.W) * static_cast<size_t>(ctx->manifest.H) * 3, 0);
  return ctx;
}

namespace {

bool coreChoosesThreads(const ko_ctx& ctx) {
  return !ctx.threadsChosen && ctx.ep.empty();
}

}  // namespace

int32_t directorThreads(const ko_ctx& ctx) {
  return coreChoosesThreads(ctx) ? std::min(ctx.threads, 2) : ctx.threads;
}

Renderer& sessionRenderer(ko_ctx& ctx) {
  if (ctx.renderer) return *ctx.renderer;
  const int32_t threads = directorThreads(ctx);
  if (coreChoosesThreads(ctx)) {
    std::fprintf(
        stderr,
        "[ko] director intra-op %d of pool %d: the caller did not choose, the core sized it for the ko_utt "
        "pipeline\n",
        threads, ctx.threads);
  }
  ctx.renderer = std::make_unique<Renderer>(ctx.manifest, *ctx.identity, ctx.modelKey, threads, ctx.ep);
  return *ctx.renderer;
}

}  // namespace ko
