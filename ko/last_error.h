// The library-wide error convention: every exported call reports failure by its return value and
// keeps the reason as a per-thread text of its family, "<call>: <reason>". No exception crosses
// the exported boundary; guardedCall is the one place that turns exceptions into texts.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace ko {

// Each family of exported calls has its own last-error text per thread.
enum class ErrorFamily { Session, A2x, Motion, Utt, Fca, Stream, Count };

const std::string& lastError(ErrorFamily family);
void clearLastError(ErrorFamily family);
// Sets "<call>: <reason>". Never throws: an allocation failure leaves the text short rather than
// escaping the boundary.
void setLastError(ErrorFamily family, const char* call, const char* reason) noexcept;

// Sets a whole text that already names its call.
void setLastErrorText(ErrorFamily family, const std::string& text) noexcept;

// Runs body and returns its result; on any exception records "<call>: <what>" (or "<call>: unknown
// failure" for an exception that is not a std::exception) and returns onFailure. Does not clear the
// text on entry: the call decides where clearing belongs.
template <class Result, class Body>
Result guardedCall(ErrorFamily family, const char* call, Result onFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& failure) {
    setLastError(family, call, failure.what());
  } catch (...) {
    setLastError(family, call, "unknown failure");
  }
  return onFailure;
}

// What a call that can fail runs: clears the family's text on entry, then runs body as guardedCall.
template <class Result, class Body>
Result clearedCall(ErrorFamily family, const char* call, Result onFailure, Body&& body) noexcept {
  clearLastError(family);
  return guardedCall(family, call, onFailure, std::forward<Body>(body));
}

}  // namespace ko
