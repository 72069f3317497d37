// The teeth calls' error convention: the refusal goes into the caller's own text buffer rather than
// a per-thread last-error text, so a failure travels with the call that made it.
#pragma once

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace ko {

// Copies at most len - 1 bytes of text and a terminating zero into buf; nothing when buf is null or
// len is not positive.
inline void fill_err(char* buf, int len, const std::string& text) noexcept {
  if (!buf || len <= 0) return;
  const size_t n = std::min(text.size(), static_cast<size_t>(len) - 1);
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

// Runs body, turning every exception into its sentence in err and the failure value; `prefix` names
// the failure that carries no sentence of its own.
template <class Result, class Body>
Result withErr(const char* prefix, char* err, int errLen, Result onFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    fill_err(err, errLen, std::string(prefix) + ": out of memory");
  } catch (const std::exception& failure) {
    fill_err(err, errLen, failure.what());
  } catch (...) {
    fill_err(err, errLen, std::string(prefix) + ": unknown failure");
  }
  return onFailure;
}

// As withErr, but every sentence is prefixed with the call's name, for calls whose inner refusals do
// not name it themselves.
template <class Result, class Body>
Result withNamedErr(const char* call, char* err, int errLen, Result onFailure, Body&& body) noexcept {
  return withErr(call, err, errLen, onFailure, [&]() -> Result {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& failure) {
      throw std::runtime_error(std::string(call) + ": " + failure.what());
    }
  });
}

}  // namespace ko
