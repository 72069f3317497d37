// The stream parameters of a motion directory's "a2x_meta.json". The file is read with a flat key
// scan, as the exporters that write it do not promise a nested layout.
#pragma once

#include <cstdint>
#include <string>

namespace ko {

// The integer after the first "\"key\"" and the first ':' behind it (leading blanks allowed,
// base 10), or fallback when the key is missing or no integer follows. Values saturate at the
// int64_t range.
int64_t json_int(const std::string& text, const char* key, int64_t fallback);

// A flag after "\"key\"": after the ':' and any spaces or tabs, text starting with "true" is 1,
// "false" is 0, otherwise an integer whose nonzero value means 1; fallback when the key is missing
// or nothing readable follows.
int json_flag(const std::string& text, const char* key, int fallback);

}  // namespace ko
