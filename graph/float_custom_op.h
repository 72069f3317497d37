// The description shared by the library's operators that take float tensors and give one float
// tensor on the CPU, with a kernel that needs nothing from the node to be created.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstddef>
#include <new>

namespace ko {

// `Op` names itself in kName and its out-of-memory status text in kOutOfMemory, and gives kInputs.
template <class Op, class Kernel>
struct FloatCustomOp : Ort::CustomOpBase<Op, Kernel, /*WithStatus=*/true> {
  OrtStatusPtr CreateKernelV2(const OrtApi&, const OrtKernelInfo*, void** kernel) const noexcept {
    *kernel = new (std::nothrow) Kernel;
    return *kernel ? nullptr : Ort::Status(Op::kOutOfMemory, ORT_FAIL).release();
  }
  const char* GetName() const { return Op::kName; }
  const char* GetExecutionProviderType() const { return "CPUExecutionProvider"; }
  size_t GetInputTypeCount() const { return Op::kInputs; }
  ONNXTensorElementDataType GetInputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
  size_t GetOutputTypeCount() const { return 1; }
  ONNXTensorElementDataType GetOutputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
};

}  // namespace ko
