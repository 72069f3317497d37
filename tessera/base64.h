// Strict standard base64 (A-Z a-z 0-9 + /, '=' padding): exactly one text decodes to given bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ko::tessera {

// Decodes `text` into `out`. On a refusal returns false with `error` naming it: the length is not a
// multiple of 4, a byte outside the alphabet (or a misplaced '=') at a 0-based position, a data byte
// after padding, or non-zero padding bits.
bool decodeBase64Strict(std::string_view text, std::vector<uint8_t>& out, std::string& error);

}  // namespace ko::tessera
