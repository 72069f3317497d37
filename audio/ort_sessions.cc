#include "audio/ort_sessions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "audio/owner_thread.h"
#include "bundle/bundle.h"
#include "pool/pool.h"

namespace ko {
namespace {

constexpr uint64_t kDefaultCudaMiB = 3072;

// The CUDA options object of ONNX Runtime's C API, released on every path.
struct CudaOptions {
  OrtCUDAProviderOptionsV2* options = nullptr;
  CudaOptions() { Ort::ThrowOnError(Ort::GetApi().CreateCUDAProviderOptions(&options)); }
  ~CudaOptions() {
    if (options) Ort::GetApi().ReleaseCUDAProviderOptions(options);
  }
  CudaOptions(const CudaOptions&) = delete;
  CudaOptions& operator=(const CudaOptions&) = delete;
};

void appendCuda(Ort::SessionOptions& options, uint64_t mib) {
  CudaOptions cuda;
  const std::string bytes = std::to_string(mib << 20);
  const char* keys[] = {"device_id",     "arena_extend_strategy",
                        "gpu_mem_limit", "cudnn_conv_use_max_workspace",
                        "use_tf32",      "use_ep_level_unified_stream"};
  const char* values[] = {"0", "kSameAsRequested", bytes.c_str(), "0", "0", "1"};
  Ort::ThrowOnError(Ort::GetApi().UpdateCUDAProviderOptions(cuda.options, keys, values, 6));
  options.AppendExecutionProvider_CUDA_V2(*cuda.options);
}

}  // namespace

Ort::SessionOptions audioSessionOptions(int threads, const char* tag) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads < 1 ? pool::threads() : threads);
  options.SetInterOpNumThreads(1);
  options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
  ko_a2x_maybe_cuda(options, tag);
  return options;
}

uint64_t cudaMemoryMiB(const char* text) {
  const std::optional<int64_t> value = parseInteger(text);
  // Beyond 2^44 MiB the byte count would not fit 64 bits; no GPU has that much anyway.
  if (!value || *value <= 0 || *value > (int64_t{1} << 44)) return kDefaultCudaMiB;
  return static_cast<uint64_t>(*value);
}

void ko_a2x_maybe_cuda(Ort::SessionOptions& options, const char* tag) {
  if (!cudaRequested() || std::strcmp(tag, "w2v") != 0) return;
  const std::optional<std::string> memory = envText("KO_A2X_CUDA_MEM_MIB");
  const uint64_t mib = cudaMemoryMiB(memory ? memory->c_str() : nullptr);
  try {
    appendCuda(options, mib);
    std::fprintf(stderr, "[ko_a2x] CUDA EP appended (%s, V2: no-max-workspace, mem<=%zuMiB)\n", tag,
                 static_cast<size_t>(mib));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "[ko_a2x] CUDA EP append failed (%s): %s -- falling back to CPU\n", tag,
                 oneLine(failure.what()).c_str());
  }
}

std::unique_ptr<Ort::Session> ko_a2x_open_session(Ort::Env& env, const std::string& path,
                                                  Ort::SessionOptions& options) {
  try {
    return std::make_unique<Ort::Session>(env, path.c_str(), options);
  } catch (const Ort::Exception& failure) {
    const std::string text = failure.what();
    if (text.find("Gelu") == std::string::npos || text.find("float16") == std::string::npos) throw;
  }
  std::fprintf(
      stderr,
      "[ko_a2x] %s: ORT's level-2 Gelu fusion produced a float16 com.microsoft.Gelu this runtime has no "
      "CPU kernel for; reopening at ORT_ENABLE_BASIC\n",
      path.c_str());
  options.SetGraphOptimizationLevel(ORT_ENABLE_BASIC);
  return std::make_unique<Ort::Session>(env, path.c_str(), options);
}

int64_t w2v_file_bytes(const std::string& path) {
  if (path.empty()) return -1;
  File file = openFile(path, "rb");
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(std::ftell(file.get()));
}

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string outputName(const Ort::Session& session, size_t index) {
  Ort::AllocatorWithDefaultOptions allocator;
  return session.GetOutputNameAllocated(index, allocator).get();
}

}  // namespace ko
