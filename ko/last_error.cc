#include "ko/last_error.h"

#include <array>

namespace ko {
namespace {

constexpr size_t kFamilies = static_cast<size_t>(ErrorFamily::Count);

std::string& slot(ErrorFamily family) {
  thread_local std::array<std::string, kFamilies> texts;
  return texts[static_cast<size_t>(family)];
}

}  // namespace

const std::string& lastError(ErrorFamily family) {
  return slot(family);
}

void clearLastError(ErrorFamily family) {
  slot(family).clear();
}

void setLastError(ErrorFamily family, const char* call, const char* reason) noexcept {
  std::string& text = slot(family);
  try {
    text.assign(call).append(": ").append(reason);
  } catch (...) {
    text.clear();
  }
}

void setLastErrorText(ErrorFamily family, const std::string& text) noexcept {
  std::string& stored = slot(family);
  try {
    stored = text;
  } catch (...) {
    stored.clear();
  }
}

}  // namespace ko
