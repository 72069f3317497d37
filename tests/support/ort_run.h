// Running a serialized model once in ONNX Runtime, for tests that check what a written or rewritten
// model computes.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ko::test {

struct FloatTensor {
  std::vector<int64_t> shape;
  std::vector<float> values;
};

using NamedTensors = std::vector<std::pair<std::string, FloatTensor>>;

// The process's one ONNX Runtime environment.
Ort::Env& ortEnv();

enum class CustomOps { none, quandrel };

// Loads the model (throwing Ort::Exception when ONNX Runtime refuses it) for runs on `threads` threads,
// after `registerOps`, when given, registered its operators with the session's options.
Ort::Session openSession(const std::vector<uint8_t>& model, int threads = 1,
                         void (*registerOps)(Ort::SessionOptions&) = nullptr);

// One run of the session: the named float outputs in the order asked (float16 ones widened).
std::vector<FloatTensor> runSession(Ort::Session& session, const NamedTensors& inputs,
                                    const std::vector<std::string>& outputs);

// Loads the model (throwing Ort::Exception when ONNX Runtime refuses it), runs it on one thread and
// returns the named float outputs in the order asked (float16 ones widened). CustomOps::quandrel registers
// the library's "com.quandrel" operators for the session first.
std::vector<FloatTensor> runModel(const std::vector<uint8_t>& model, const NamedTensors& inputs,
                                  const std::vector<std::string>& outputs, CustomOps ops = CustomOps::none);

}  // namespace ko::test
