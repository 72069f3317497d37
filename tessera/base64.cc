#include "tessera/base64.h"

#include <string>

namespace ko::tessera {
namespace {

constexpr int kPadding = -1;
constexpr int kOutside = -2;

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return c == '=' ? kPadding : kOutside;
}

// Which text positions hold values and how many: '=' may stand only in the last two positions, and
// nothing but '=' may follow it.
bool scan(std::string_view text, size_t& dataLength, std::string& error) {
  dataLength = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    const int value = sextet(text[i]);
    const bool padding = value == kPadding;
    if (value == kOutside || (padding && i + 2 < text.size())) {
      error = "base64 carries a byte outside the standard alphabet at " + std::to_string(i);
      return false;
    }
    if (padding && dataLength == text.size()) dataLength = i;
    if (!padding && dataLength != text.size()) {
      error = "base64 padding is not at the end";
      return false;
    }
  }
  return true;
}

}  // namespace

bool decodeBase64Strict(std::string_view text, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  if (text.size() % 4 != 0) {
    error = "base64 length " + std::to_string(text.size()) + " is not a multiple of 4";
    return false;
  }
  size_t dataLength = 0;
  if (!scan(text, dataLength, error)) return false;
  out.reserve(dataLength * 3 / 4);
  uint32_t bits = 0;
  int held = 0;
  for (size_t i = 0; i < dataLength; ++i) {
    bits = (bits << 6) | static_cast<uint32_t>(sextet(text[i]));
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<uint8_t>(bits >> held));
      bits &= (1u << held) - 1;
    }
  }
  if (bits != 0) {
    out.clear();
    error = "base64 tail carries non-zero padding bits (not canonical)";
    return false;
  }
  return true;
}

}  // namespace ko::tessera
