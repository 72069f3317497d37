#include "tessera/json.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ko::tessera::json {
namespace {

bool isJsonSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Every byte strtod can consume after its own leading white space: signs, digits, the decimal point,
// exponents, hexadecimal digits and prefixes, the letters of inf/infinity/nan and nan's
// parenthesised tag. A run of these bytes ends where strtod would stop on the unbounded input.
bool mayContinueNumber(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         c == '+' || c == '-' || c == '.' || c == '(' || c == ')' || c == '_';
}

bool isCSpace(char c) {
  return isJsonSpace(c) || c == '\v' || c == '\f';
}

[[noreturn]] void fail(const char* message) {
  throw std::runtime_error(message);
}

}  // namespace

JVal::JVal() = default;
JVal::JVal(const JVal&) = default;
JVal::JVal(JVal&&) noexcept = default;
JVal& JVal::operator=(const JVal&) = default;
JVal& JVal::operator=(JVal&&) noexcept = default;
JVal::~JVal() = default;

const JVal* JVal::get(std::string_view key) const {
  if (kind != kObject) return nullptr;
  for (const auto& member : obj) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

class JParser::NestingGuard {
 public:
  explicit NestingGuard(int& depth) : depth_(depth) {
    if (++depth_ > kMaxNesting) {
      --depth_;
      fail("teeth: JSON nested too deeply");
    }
  }
  ~NestingGuard() { --depth_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  int& depth_;
};

JParser::JParser(const char* begin, const char* end) : cur_(begin), end_(end) {}

void JParser::skipWhitespace() {
  while (cur_ != end_ && isJsonSpace(*cur_)) ++cur_;
}

bool JParser::continuesWith(std::string_view word) const {
  return static_cast<size_t>(end_ - cur_) >= word.size() && std::memcmp(cur_, word.data(), word.size()) == 0;
}

JVal JParser::val() {
  skipWhitespace();
  if (cur_ == end_) fail("teeth: JSON truncated");
  switch (*cur_) {
    case '{':
      return objv();
    case '[':
      return arrv();
    case '"': {
      JVal v;
      v.kind = kString;
      v.str = strv();
      return v;
    }
    default:
      break;
  }
  JVal v;
  if (continuesWith("true") || continuesWith("false")) {
    v.kind = kBool;
    v.b = *cur_ == 't';
    cur_ += v.b ? 4 : 5;
    return v;
  }
  if (continuesWith("null")) {
    cur_ += 4;
    return v;
  }
  return numv();
}

// strtod needs a terminated buffer, so the bytes it could consume are copied out first.
JVal JParser::numv() {
  const char* stop = cur_;
  while (stop != end_ && isCSpace(*stop)) ++stop;
  while (stop != end_ && mayContinueNumber(*stop)) ++stop;
  const std::string candidate(cur_, stop);
  char* parsedEnd = nullptr;
  const double value = std::strtod(candidate.c_str(), &parsedEnd);
  const auto consumed = parsedEnd - candidate.c_str();
  if (consumed == 0) fail("teeth: bad JSON number");
  cur_ += consumed;
  JVal v;
  v.kind = kNumber;
  v.num = value;
  return v;
}

std::string JParser::strv() {
  std::string out;
  if (cur_ != end_) ++cur_;
  while (cur_ != end_) {
    const char c = *cur_++;
    if (c == '"') break;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (cur_ == end_) break;
    const char escaped = *cur_++;
    switch (escaped) {
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u':
        // Code points are not decoded: no key or value the subsystem reads needs one.
        out += '?';
        if (end_ - cur_ >= 4) cur_ += 4;
        break;
      default:
        out += escaped;
        break;
    }
  }
  return out;
}

JVal JParser::arrv() {
  const NestingGuard guard(depth_);
  if (cur_ != end_) ++cur_;
  skipWhitespace();
  JVal v;
  v.kind = kArray;
  if (cur_ != end_ && *cur_ == ']') {
    ++cur_;
    return v;
  }
  for (;;) {
    v.arr.push_back(val());
    skipWhitespace();
    if (cur_ == end_) fail("teeth: malformed JSON array");
    const char c = *cur_++;
    if (c == ']') return v;
    if (c != ',') fail("teeth: malformed JSON array");
  }
}

JVal JParser::objv() {
  const NestingGuard guard(depth_);
  if (cur_ != end_) ++cur_;
  skipWhitespace();
  JVal v;
  v.kind = kObject;
  if (cur_ != end_ && *cur_ == '}') {
    ++cur_;
    return v;
  }
  for (;;) {
    skipWhitespace();
    std::string key = strv();
    skipWhitespace();
    if (cur_ != end_ && *cur_ == ':') ++cur_;
    JVal member = val();
    v.obj.emplace_back(std::move(key), std::move(member));
    skipWhitespace();
    if (cur_ == end_) fail("teeth: malformed JSON object");
    const char c = *cur_++;
    if (c == '}') return v;
    if (c != ',') fail("teeth: malformed JSON object");
  }
}

JVal parseJson(std::string_view text, const std::string& label) {
  JParser parser(text.data(), text.data() + text.size());
  parser.skipWhitespace();
  try {
    return parser.val();
  } catch (const std::runtime_error& failure) {
    throw std::runtime_error("teeth: " + label + " is not readable JSON: " + failure.what());
  }
}

}  // namespace ko::tessera::json
