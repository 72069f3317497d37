// The exported bundle-resolution calls and the family-independent basics.
#include <cstring>
#include <stdexcept>
#include <string>

#include "bundle/bundle.h"
#include "ko/ko.h"
#include "ko/last_error.h"
#include "renderer/renderer.h"

namespace {

using ko::ErrorFamily;

// Copies text with its terminator into out; on a too-small buffer writes "" and returns false.
bool copyOut(const std::string& text, char* out, size_t cap) {
  if (cap < text.size() + 1) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

extern "C" {

KO_API const char* ko_last_error(void) {
  return ko::lastError(ErrorFamily::Session).c_str();
}

KO_API int ko_host_kp_rows(void) {
  return ko::kHostKpRows;
}

KO_API int ko_bundle_resolve_handle(const char* bundle, char* out, size_t cap) {
  ko::clearLastError(ErrorFamily::Session);
  if (!bundle || !out || cap == 0) return -1;
  out[0] = '\0';
  return ko::guardedCall(ErrorFamily::Session, "ko_bundle_resolve_handle", -1, [&] {
    if (!copyOut(ko::resolveBundlePath(bundle), out, cap)) throw std::runtime_error("buffer too small");
    return 1;
  });
}

KO_API int ko_bundle_resolve_member(const char* bundle, const char* member, char* out, size_t cap) {
  ko::clearLastError(ErrorFamily::Session);
  if (!bundle || !member || !out || cap == 0) return -1;
  out[0] = '\0';
  return ko::guardedCall(ErrorFamily::Session, "ko_bundle_resolve_member", -1, [&] {
    const std::string path = ko::resolveMember(ko::resolveBundlePath(bundle), member);
    if (!copyOut(path, out, cap)) throw std::runtime_error("buffer too small");
    return ko::opensForReading(path) ? 1 : 0;
  });
}

}  // extern "C"
