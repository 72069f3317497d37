// The text a call fails with, so tests can assert messages exactly.
#pragma once

#include <exception>
#include <string>

namespace ko::test {

inline constexpr const char* kNoFailure = "<no failure>";

template <class Call>
std::string failureText(Call&& call) {
  try {
    call();
  } catch (const std::exception& failure) {
    return failure.what();
  }
  return kNoFailure;
}

}  // namespace ko::test
