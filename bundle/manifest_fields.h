// Value readers over the flat key scanner, shared by every reader of manifest.json that looks up a
// single scalar. All of them refuse ambiguous keys.
#pragma once

#include <string>
#include <string_view>

namespace ko {

// The value text of a key, from its first non-whitespace byte to the end of the manifest.
// Throws "manifest: missing key <key>".
std::string_view findKey(std::string_view text, std::string_view key);

// The required string value: the bytes between the quote that opens the value and the next quote
// (no escape processing). Throws "manifest: bad string <key>" when the value is not quoted.
std::string strField(std::string_view text, std::string_view key);

// The leading number of a required key. Text that is no number reads as 0.
double numField(std::string_view text, std::string_view key);

// The required number under the key or, when the key has no scalar occurrence, the alias.
// Throws "manifest: missing key <key>/<alias>" when neither is present.
double numFieldEither(std::string_view text, std::string_view key, std::string_view alias);

// Fills `out` when the key holds a quoted string and returns whether `out` is then non-empty; a
// missing or non-string key leaves `out` untouched and returns false.
bool optStr(std::string_view text, std::string_view key, std::string& out);

// The leading number of a value text (locale-independent); 0 when the text starts with no number.
double leadingNumber(std::string_view valueText);

// Converts to int32 by truncation toward zero, saturating at the int32 range; NaN becomes 0.
int truncateToInt(double value);

}  // namespace ko
