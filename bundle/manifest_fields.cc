#include "bundle/manifest_fields.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

#include "bundle/manifest_key.h"

namespace ko {
namespace {

std::optional<std::string_view> valueOf(std::string_view text, std::string_view key) {
  const uint64_t pos = manifest_key::scalarValuePos(text, key);
  if (pos == manifest_key::npos) return std::nullopt;
  return text.substr(pos);
}

// The quoted text a value starts with. A value that does not start with a quote is no string: taking
// the next quote in the text instead would read a neighbouring key's name as the value.
std::optional<std::string_view> quotedValue(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::nullopt;
  const size_t close = value.find('"', 1);
  if (close == std::string_view::npos) return std::nullopt;
  return value.substr(1, close - 1);
}

// The marker for a number that is not there; a manifest value of exactly this counts as absent.
constexpr double kAbsentNumber = -1e300;

double numberOr(std::string_view text, std::string_view key) {
  const std::optional<std::string_view> value = valueOf(text, key);
  return value ? leadingNumber(*value) : kAbsentNumber;
}

}  // namespace

std::string_view findKey(std::string_view text, std::string_view key) {
  const std::optional<std::string_view> value = valueOf(text, key);
  if (!value) throw std::runtime_error("manifest: missing key " + std::string(key));
  return *value;
}

std::string strField(std::string_view text, std::string_view key) {
  const std::optional<std::string_view> quoted = quotedValue(findKey(text, key));
  if (!quoted) throw std::runtime_error("manifest: bad string " + std::string(key));
  return std::string(*quoted);
}

double numField(std::string_view text, std::string_view key) {
  return leadingNumber(findKey(text, key));
}

double numFieldEither(std::string_view text, std::string_view key, std::string_view alias) {
  double value = numberOr(text, key);
  if (value == kAbsentNumber) value = numberOr(text, alias);
  if (value == kAbsentNumber) {
    throw std::runtime_error("manifest: missing key " + std::string(key) + "/" + std::string(alias));
  }
  return value;
}

bool optStr(std::string_view text, std::string_view key, std::string& out) {
  const std::optional<std::string_view> value = valueOf(text, key);
  if (!value) return false;
  const std::optional<std::string_view> quoted = quotedValue(*value);
  if (!quoted) return false;
  out = std::string(*quoted);
  return !out.empty();
}

double leadingNumber(std::string_view valueText) {
  double value = 0;
  const char* first = valueText.data();
  const std::from_chars_result parsed = std::from_chars(first, first + valueText.size(), value);
  if (parsed.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value unset; strtod in the C locale saturates as a reader expects.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string number(first, parsed.ptr);
    return strtod_l(number.c_str(), nullptr, cLocale);
  }
  return parsed.ec == std::errc() ? value : 0.0;
}

int truncateToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

}  // namespace ko
