// The flat key scanner over manifest.json. The manifest is never parsed as a tree: keys are found
// by scanning, and a key that occurs more than once as a scalar where the scanner cannot tell which
// occurrence is meant is refused rather than guessed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ko::manifest_key {

// One occurrence of a key as an object key.
struct KeyHit {
  uint64_t pos = 0;     // first non-whitespace byte after the colon (the text length when none)
  uint32_t depth = 0;   // bracket depth at the key; the root object's keys have depth 1
  bool scalar = false;  // the value opens neither an object nor an array
};

inline constexpr uint64_t npos = ~uint64_t{0};

// Every occurrence of the key as an object key, in text order. Key-like text inside string values
// is never counted.
std::vector<KeyHit> keyHits(std::string_view text, std::string_view key);

// The position of the key's one scalar value: the single root-level scalar if there is one, else
// the single scalar anywhere; npos when the key has no scalar occurrence. Throws the AMBIGUOUS
// sentence when two or more candidates remain.
uint64_t scalarValuePos(std::string_view text, std::string_view key);

}  // namespace ko::manifest_key
