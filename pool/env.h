// Reading the library's environment variables (KO_PASTE_FAST, KO_PASTE_KSIZE, KO_STEADY_MODEL, ...): the
// one place every subsystem reads its switches through, so each rule is written once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ko {

// The variable's value when it is a whole decimal integer, optionally signed ("3", "-1", "+7");
// nothing when it is unset, empty, not such an integer ("3x", "abc") or outside int64_t.
std::optional<int64_t> envInteger(const char* name);

// The variable's text; nothing when it is unset (an empty value is an empty text).
std::optional<std::string> envText(const char* name);

// True when the variable is set and its value starts with `first` (KO_ORT_SPIN=1..., KO_GS_FAST=0...).
bool envStartsWith(const char* name, char first);

// True when the variable is set to exactly `value` (KO_DRIVER_HWDEC=0, KO_CONV_BACKEND=neon).
bool envEquals(const char* name, const char* value);

// The variable's text when it is set and not empty.
std::optional<std::string> envNonEmpty(const char* name);

// True when the variable is set, not empty and does not start with '0' (KO_WARP_NODE).
bool envSwitchedOn(const char* name);

// The rule behind envInteger, for a text already read (null counts as unset).
std::optional<int64_t> parseInteger(const char* text);

}  // namespace ko
