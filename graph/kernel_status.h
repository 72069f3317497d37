// The one place where a custom operator's failure becomes an ONNX Runtime status: a kernel's compute
// runs inside ONNX Runtime's C interface, which no exception may cross.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <exception>

namespace ko {

template <class Compute>
OrtStatusPtr statusOf(Compute&& compute) noexcept {
  try {
    compute();
    return nullptr;
  } catch (const Ort::Exception& failure) {
    return Ort::Status(failure).release();
  } catch (const std::exception& failure) {
    return Ort::Status(failure).release();
  }
}

}  // namespace ko
