#include "audio/motion_net.h"

#include <algorithm>
#include <stdexcept>

#include "pool/pool.h"
#include "renderer/renderer.h"

namespace ko::motion {
namespace {

std::string shapeText(const std::vector<int64_t>& dims) {
  std::string text = "[";
  for (size_t i = 0; i < dims.size(); ++i) {
    if (i) text += ',';
    text += dims[i] < 0 ? std::string("?") : std::to_string(dims[i]);
  }
  return text + "]";
}

// The declared shape with its symbolic dimensions filled so that it holds `values` values; empty
// when no filling does.
std::vector<int64_t> fitShape(std::vector<int64_t> dims, size_t values) {
  int64_t known = 1;
  int unknown = -1;
  for (size_t i = 0; i < dims.size(); ++i) {
    if (dims[i] >= 0) {
      known *= dims[i];
    } else if (unknown < 0) {
      unknown = static_cast<int>(i);
    } else {
      dims[i] = 1;
    }
  }
  const auto want = static_cast<int64_t>(values);
  if (unknown >= 0 && known > 0 && want % known == 0) dims[static_cast<size_t>(unknown)] = want / known;
  int64_t product = 1;
  for (int64_t dim : dims) product *= dim;
  return product == want ? dims : std::vector<int64_t>{};
}

std::vector<int64_t> checkedShape(const std::string& file, const char* role, const std::string& name,
                                  const Ort::TypeInfo& info, size_t values) {
  const Ort::ConstTensorTypeAndShapeInfo tensor = info.GetTensorTypeAndShapeInfo();
  const std::vector<int64_t> declared = tensor.GetShape();
  if (tensor.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
    throw std::runtime_error(file + ": " + role + " " + name + " is not a float tensor");
  }
  std::vector<int64_t> shape = fitShape(declared, values);
  if (shape.empty()) {
    throw std::runtime_error(file + ": " + role + " " + name + " declares " + shapeText(declared) +
                             ", which cannot hold " + std::to_string(values) + " values");
  }
  return shape;
}

}  // namespace

Ort::SessionOptions motionSessionOptions(int threads, const std::string& ep, const std::string& dir) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads);
  options.SetInterOpNumThreads(1);
  options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
  if (!envStartsWith("KO_ORT_SPIN", '1')) options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  if (ep.empty()) return options;
  if (!ep.starts_with("coreml")) throw std::runtime_error("ko_motion: unknown ep '" + ep + "'");
  appendCoremlProvider(options, ep, dir);
  return options;
}

Net Net::open(Ort::Env& env, const std::string& path, const Ort::SessionOptions& options,
              const std::vector<size_t>& inputValues, size_t outputValues) {
  Net net;
  net.file_ = path.substr(path.find_last_of('/') + 1);
  net.session_ = std::make_unique<Ort::Session>(env, path.c_str(), options);
  Ort::Session& session = *net.session_;
  Ort::AllocatorWithDefaultOptions allocator;
  if (session.GetInputCount() != inputValues.size() || session.GetOutputCount() < 1) {
    throw std::runtime_error(net.file_ + " declares " + std::to_string(session.GetInputCount()) +
                             " inputs and " + std::to_string(session.GetOutputCount()) + " outputs, not " +
                             std::to_string(inputValues.size()) + " inputs and an output");
  }
  for (size_t i = 0; i < inputValues.size(); ++i) {
    net.inputNames_.push_back(session.GetInputNameAllocated(i, allocator).get());
    net.inputShapes_.push_back(checkedShape(net.file_, "input", net.inputNames_.back(),
                                            session.GetInputTypeInfo(i), inputValues[i]));
  }
  for (const std::string& name : net.inputNames_) net.inputNamePointers_.push_back(name.c_str());
  net.inputValues_ = inputValues;
  net.outputName_ = session.GetOutputNameAllocated(0, allocator).get();
  checkedShape(net.file_, "output", net.outputName_, session.GetOutputTypeInfo(0), outputValues);
  net.outputValues_ = outputValues;
  return net;
}

void Net::run(const std::vector<const float*>& inputs, float* out, NetworkTime& time) {
  std::vector<Ort::Value> values;
  values.reserve(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::vector<int64_t>& shape = inputShapes_[i];
    values.push_back(Ort::Value::CreateTensor<float>(cpu_, const_cast<float*>(inputs[i]), inputValues_[i],
                                                     shape.data(), shape.size()));
  }
  const char* outputName = outputName_.c_str();
  Ort::Value output{nullptr};
  {
    RunTimer timer(time);
    session_->Run(Ort::RunOptions{nullptr}, inputNamePointers_.data(), values.data(), values.size(),
                  &outputName, &output, 1);
  }
  const Ort::TensorTypeAndShapeInfo info = output.GetTensorTypeAndShapeInfo();
  if (info.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT ||
      info.GetElementCount() != outputValues_) {
    throw std::runtime_error(file_ + "'s output " + outputName_ + " holds " +
                             std::to_string(info.GetElementCount()) + " values, not " +
                             std::to_string(outputValues_) + " floats");
  }
  std::copy_n(output.GetTensorData<float>(), outputValues_, out);
}

}  // namespace ko::motion
