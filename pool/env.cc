#include "pool/env.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace ko {

std::optional<int64_t> parseInteger(const char* text) {
  if (text == nullptr) return std::nullopt;
  const char* end = text + std::strlen(text);
  // from_chars takes a minus sign but not a plus sign.
  const char* digits = *text == '+' && end - text > 1 && text[1] != '-' ? text + 1 : text;
  int64_t value = 0;
  const auto [stop, error] = std::from_chars(digits, end, value);
  if (error != std::errc() || stop != end || digits == end) return std::nullopt;
  return value;
}

std::optional<int64_t> envInteger(const char* name) {
  return parseInteger(std::getenv(name));
}

std::optional<std::string> envText(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool envStartsWith(const char* name, char first) {
  const char* value = std::getenv(name);
  return value && value[0] == first;
}

bool envEquals(const char* name, const char* value) {
  const char* set = std::getenv(name);
  return set && std::strcmp(set, value) == 0;
}

std::optional<std::string> envNonEmpty(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool envSwitchedOn(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] != '\0' && value[0] != '0';
}

}  // namespace ko
