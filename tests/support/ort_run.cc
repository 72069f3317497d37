#include "tests/support/ort_run.h"

#include "graph/custom_domain.h"
#include "simd/half.h"

namespace ko::test {
namespace {

Ort::Value inputValue(const FloatTensor& tensor) {
  static const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  // ONNX Runtime only reads an input, whatever the pointer's constness says.
  return Ort::Value::CreateTensor<float>(memory, const_cast<float*>(tensor.values.data()),
                                         tensor.values.size(), tensor.shape.data(), tensor.shape.size());
}

// Float16 outputs come back widened, exactly.
FloatTensor outputTensor(const Ort::Value& value) {
  const Ort::TensorTypeAndShapeInfo info = value.GetTensorTypeAndShapeInfo();
  FloatTensor tensor{info.GetShape(), std::vector<float>(info.GetElementCount())};
  if (info.GetElementType() == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16) {
    halfToFloat(reinterpret_cast<const uint16_t*>(value.GetTensorData<Ort::Float16_t>()),
                tensor.values.data(), tensor.values.size());
  } else {
    const float* data = value.GetTensorData<float>();
    std::copy(data, data + tensor.values.size(), tensor.values.begin());
  }
  return tensor;
}

}  // namespace

Ort::Env& ortEnv() {
  static Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "ko_test");
  return env;
}

Ort::Session openSession(const std::vector<uint8_t>& model, int threads,
                         void (*registerOps)(Ort::SessionOptions&)) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads);
  if (registerOps != nullptr) registerOps(options);
  return Ort::Session(ortEnv(), model.data(), model.size(), options);
}

std::vector<FloatTensor> runSession(Ort::Session& session, const NamedTensors& inputs,
                                    const std::vector<std::string>& outputs) {
  std::vector<const char*> inputNames;
  std::vector<Ort::Value> inputValues;
  for (const auto& [name, tensor] : inputs) {
    inputNames.push_back(name.c_str());
    inputValues.push_back(inputValue(tensor));
  }
  std::vector<const char*> outputNames;
  for (const std::string& name : outputs) outputNames.push_back(name.c_str());
  std::vector<Ort::Value> results =
      session.Run(Ort::RunOptions{nullptr}, inputNames.data(), inputValues.data(), inputValues.size(),
                  outputNames.data(), outputNames.size());
  std::vector<FloatTensor> tensors;
  for (const Ort::Value& result : results) tensors.push_back(outputTensor(result));
  return tensors;
}

std::vector<FloatTensor> runModel(const std::vector<uint8_t>& model, const NamedTensors& inputs,
                                  const std::vector<std::string>& outputs, CustomOps ops) {
  Ort::Session session = openSession(model, 1, ops == CustomOps::quandrel ? registerGridSampleFast : nullptr);
  return runSession(session, inputs, outputs);
}

}  // namespace ko::test
