// SHA-256 digests of byte ranges, as the lowercase hexadecimal text that bundles and templates store.
#pragma once

#include <cstddef>
#include <string>

namespace ko {

// The SHA-256 of `size` bytes at `data` as 64 lowercase hexadecimal characters. `data` may be null
// when `size` is 0.
std::string sha256Hex(const void* data, size_t size);

}  // namespace ko
