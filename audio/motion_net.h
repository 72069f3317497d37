// One network of a motion directory as a ready ONNX Runtime session: inputs fed in the order the
// network declares them, each checked at load against the values the stream will give it.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "audio/network_time.h"

namespace ko::motion {

// Intra-op threads = threads, no spinning between runs unless KO_ORT_SPIN starts with "1", and the
// provider: "" the CPU, "coreml..." ONNX Runtime's CoreML provider (where the runtime has it), any
// other name refused with "ko_motion: unknown ep '<name>'".
Ort::SessionOptions motionSessionOptions(int threads, const std::string& ep, const std::string& dir);

class Net {
 public:
  // Opens the file and checks that input i holds inputValues[i] values and output 0 holds
  // outputValues (symbolic dimensions count as 1, or take what makes the count fit). Throws one
  // sentence naming the file otherwise.
  static Net open(Ort::Env& env, const std::string& path, const Ort::SessionOptions& options,
                  const std::vector<size_t>& inputValues, size_t outputValues);

  // Runs the network on the inputs (in declared order) and copies output 0 to out.
  void run(const std::vector<const float*>& inputs, float* out, NetworkTime& time);

 private:
  std::string file_;
  std::unique_ptr<Ort::Session> session_;
  Ort::MemoryInfo cpu_ = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::vector<std::string> inputNames_;
  std::vector<const char*> inputNamePointers_;
  std::vector<std::vector<int64_t>> inputShapes_;
  std::vector<size_t> inputValues_;
  std::string outputName_;
  size_t outputValues_ = 0;
};

}  // namespace ko::motion
