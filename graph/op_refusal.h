// How the library's custom operators refuse what they cannot run: one sentence after the operator's
// own prefix, thrown as std::invalid_argument for graph/kernel_status.h to hand ONNX Runtime.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace ko {

[[noreturn]] inline void refuseOp(std::string_view prefix, const std::string& why) {
  throw std::invalid_argument(std::string(prefix) + why);
}

}  // namespace ko
