// The teeth subsystem's own JSON reader: a recursive descent that builds the whole value tree. It is
// lenient where the bundles written so far rely on it (prefix keywords, a missing colon, strtod's
// number forms, unterminated strings) and strict about the shape of arrays and objects; callers do all
// schema checking. Input is a byte range and is never read past its end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ko::tessera::json {

inline constexpr int32_t kNull = 0;
inline constexpr int32_t kBool = 1;
inline constexpr int32_t kNumber = 2;
inline constexpr int32_t kString = 3;
inline constexpr int32_t kArray = 4;
inline constexpr int32_t kObject = 5;

// Arrays and objects may nest this deep; a deeper document is refused instead of exhausting the stack.
inline constexpr int kMaxNesting = 256;

struct JVal {
  // Defaulted in json.cc: the members hold JVal itself, which some standard libraries need complete
  // before they can declare the implicit members.
  JVal();
  JVal(const JVal&);
  JVal(JVal&&) noexcept;
  JVal& operator=(const JVal&);
  JVal& operator=(JVal&&) noexcept;
  ~JVal();

  int32_t kind = kNull;
  bool b = false;
  double num = 0;
  std::string str;
  std::vector<JVal> arr;
  std::vector<std::pair<std::string, JVal>> obj;  // document order, duplicate keys kept

  // The first member with exactly this key; nullptr when there is none or this is not an object.
  const JVal* get(std::string_view key) const;
};

// Failures throw std::runtime_error with "teeth: JSON truncated", "teeth: bad JSON number",
// "teeth: malformed JSON array", "teeth: malformed JSON object" or "teeth: JSON nested too deeply".
class JParser {
 public:
  JParser(const char* begin, const char* end);

  // One value at the cursor (leading whitespace skipped); the cursor ends just past it.
  JVal val();
  // Cursor on the opening brace, bracket or quote.
  JVal objv();
  JVal arrv();
  std::string strv();

  const char* cursor() const { return cur_; }
  void skipWhitespace();

 private:
  class NestingGuard;

  bool continuesWith(std::string_view word) const;
  JVal numv();

  const char* cur_;
  const char* end_;
  int depth_ = 0;
};

// Skips leading whitespace and reads one value; text after it is not examined. A failure becomes
// "teeth: <label> is not readable JSON: <reader's message>".
JVal parseJson(std::string_view text, const std::string& label);

}  // namespace ko::tessera::json
