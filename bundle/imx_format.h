// The IMX container, version 2: constants and the member-name rule shared by the reader in the
// library and the packer in tools/, so both refuse exactly the same names.
//
// Layout (little-endian): "IMX\0", u16 version (2), u16 count, then count TOC entries
// {u16 nameLen, name bytes, u64 offset, u64 size}; payloads are raw bytes at their offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ko::imx {

inline constexpr unsigned char kMagic[4] = {'I', 'M', 'X', '\0'};
inline constexpr uint16_t kVersion = 2;
inline constexpr size_t kHeaderBytes = 8;
inline constexpr size_t kCopyBufferBytes = size_t{8} << 20;
inline constexpr uint64_t kMaxSyntheticManifestBytes = uint64_t{4} << 20;
inline constexpr std::string_view kSyntheticManifestMark = "_imx_synthetic_manifest";

// A member name is a relative path that stays inside the unwrap directory: not empty, no leading
// slash or backslash, no "..", no zero byte, and no empty or "." path component (so "a//b",
// "a/./b", "." and a trailing slash are refused too).
inline bool isSafeMemberName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  if (name.find("..") != std::string_view::npos || name.find('\0') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view component = name.substr(start, end - start);
    if (component.empty() || component == ".") return false;
    start = end + 1;
  }
  return true;
}

inline uint64_t readLE(const unsigned char* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

inline void writeLE(unsigned char* bytes, uint64_t value, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace ko::imx
