// How the audio subsystem opens its ONNX Runtime sessions: one option set for the speech encoder
// and the stream networks, the optional CUDA provider, and a reopen that works around a fusion
// ONNX Runtime's CPU provider cannot run.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ko {

// Intra-op threads = threads (below 1: the pool's size), inter-op 1, no spinning between runs (the
// renderer needs those cores), every graph optimisation; then ko_a2x_maybe_cuda with the tag.
Ort::SessionOptions audioSessionOptions(int threads, const char* tag);

// Appends the CUDA provider when KO_A2X_CUDA is exactly "1" and the tag is exactly "w2v"; any other
// tag leaves the options alone. GPU memory is capped at KO_A2X_CUDA_MEM_MIB MiB when that is a
// positive integer, else 3072 MiB. A runtime without CUDA prints why and the session stays on the CPU.
void ko_a2x_maybe_cuda(Ort::SessionOptions& options, const char* tag);

// The GPU memory cap in MiB that ko_a2x_maybe_cuda uses for a KO_A2X_CUDA_MEM_MIB text (null: unset).
uint64_t cudaMemoryMiB(const char* text);

// Opens a session from a file. When ONNX Runtime refuses the graph because its level-2 Gelu fusion
// produced a float16 Gelu that the CPU has no kernel for, the options drop to basic optimisation and
// the session is opened once more; any other failure propagates.
std::unique_ptr<Ort::Session> ko_a2x_open_session(Ort::Env& env, const std::string& path,
                                                  Ort::SessionOptions& options);

// The file's size in bytes; -1 for an empty path, a file that does not open or a failed seek.
int64_t w2v_file_bytes(const std::string& path);

// An error text fit for one diagnostic line: line breaks become spaces, trailing blanks go.
std::string oneLine(std::string text);

// The name of a session's output.
std::string outputName(const Ort::Session& session, size_t index);

}  // namespace ko
