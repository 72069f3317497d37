#include "audio/a2x_meta.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace ko {
namespace {

// The text just behind the ':' that follows the quoted key, or null when either is missing.
const char* afterKey(const std::string& text, const char* key) {
  const std::string quoted = std::string("\"") + key + "\"";
  const size_t at = text.find(quoted);
  if (at == std::string::npos) return nullptr;
  const size_t colon = text.find(':', at + quoted.size());
  if (colon == std::string::npos) return nullptr;
  return text.c_str() + colon + 1;
}

std::optional<int64_t> integerAt(const char* at) {
  while (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r') ++at;
  char* stop = nullptr;
  errno = 0;
  const long long value = std::strtoll(at, &stop, 10);
  if (stop == at) return std::nullopt;
  return static_cast<int64_t>(value);
}

}  // namespace

int64_t json_int(const std::string& text, const char* key, int64_t fallback) {
  const char* at = afterKey(text, key);
  if (!at) return fallback;
  return integerAt(at).value_or(fallback);
}

int json_flag(const std::string& text, const char* key, int fallback) {
  const char* at = afterKey(text, key);
  if (!at) return fallback;
  while (*at == ' ' || *at == '\t') ++at;
  if (std::strncmp(at, "true", 4) == 0) return 1;
  if (std::strncmp(at, "false", 5) == 0) return 0;
  const std::optional<int64_t> value = integerAt(at);
  if (!value) return fallback;
  return *value != 0 ? 1 : 0;
}

}  // namespace ko
