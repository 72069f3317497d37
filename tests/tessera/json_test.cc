#include "tessera/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>

#include "tests/support/failure_text.h"

namespace ko::tessera::json {
namespace {

using ko::test::failureText;

// Parses one value the way the teeth pass's inner readers do; the cursor offset comes back too.
JVal readValue(std::string_view text, size_t* consumed = nullptr) {
  JParser parser(text.data(), text.data() + text.size());
  JVal v = parser.val();
  if (consumed != nullptr) *consumed = static_cast<size_t>(parser.cursor() - text.data());
  return v;
}

std::string readFailure(std::string_view text) {
  return failureText([&] { readValue(text); });
}

TEST(TesseraJson, BuildsTheTreeInDocumentOrder) {
  const JVal v = readValue(R"( {"a": [1, -2.5e1, "x", true, false, null, {}], "b": {"c": []}} )");
  ASSERT_EQ(v.kind, kObject);
  ASSERT_EQ(v.obj.size(), 2u);
  EXPECT_EQ(v.obj[0].first, "a");
  const JVal& a = v.obj[0].second;
  ASSERT_EQ(a.kind, kArray);
  ASSERT_EQ(a.arr.size(), 7u);
  EXPECT_EQ(a.arr[0].kind, kNumber);
  EXPECT_EQ(a.arr[0].num, 1.0);
  EXPECT_EQ(a.arr[1].num, -25.0);
  EXPECT_EQ(a.arr[2].kind, kString);
  EXPECT_EQ(a.arr[2].str, "x");
  EXPECT_EQ(a.arr[3].kind, kBool);
  EXPECT_TRUE(a.arr[3].b);
  EXPECT_EQ(a.arr[4].kind, kBool);
  EXPECT_FALSE(a.arr[4].b);
  EXPECT_EQ(a.arr[5].kind, kNull);
  EXPECT_EQ(a.arr[6].kind, kObject);
  EXPECT_TRUE(a.arr[6].obj.empty());
  const JVal* c = v.get("b")->get("c");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->kind, kArray);
  EXPECT_TRUE(c->arr.empty());
  EXPECT_EQ(v.get("missing"), nullptr);
  EXPECT_EQ(a.get("a"), nullptr);
}

TEST(TesseraJson, ObjectsKeepDuplicateKeysForTheFirstLookupAndTolerateAMissingColon) {
  const JVal v = readValue(R"({"k": 1, "k" 2})");
  ASSERT_EQ(v.obj.size(), 2u);
  EXPECT_EQ(v.get("k")->num, 1.0);
  EXPECT_EQ(v.obj[1].second.num, 2.0);
}

TEST(TesseraJson, StringEscapes) {
  EXPECT_EQ(readValue(R"("a\"b\\c\/d\be\ff\ng\rh\ti\qj")").str,
            "a\"b\\c/d\be\ff\ng\rh\ti"
            "qj");
  // The code point is not decoded: one '?' stands for the whole escape.
  EXPECT_EQ(readValue(R"("x\u00e9y")").str, "x?y");
  // Fewer than four bytes after the u: the '?' is written and nothing is skipped.
  EXPECT_EQ(readValue(R"("x\u12)").str, "x?12");
}

TEST(TesseraJson, StringsRunningOutOfInputEndWithoutError) {
  EXPECT_EQ(readValue(R"("abc)").str, "abc");
  EXPECT_EQ(readValue(R"("abc\)").str, "abc");
  size_t consumed = 0;
  EXPECT_EQ(readValue(R"("ab"cd)", &consumed).str, "ab");
  EXPECT_EQ(consumed, 4u);
}

TEST(TesseraJson, KeywordsArePrefixMatches) {
  size_t consumed = 0;
  const JVal v = readValue("truex", &consumed);
  EXPECT_EQ(v.kind, kBool);
  EXPECT_TRUE(v.b);
  EXPECT_EQ(consumed, 4u);
  EXPECT_FALSE(readValue("false1", &consumed).b);
  EXPECT_EQ(consumed, 5u);
  EXPECT_EQ(readValue("nullnull", &consumed).kind, kNull);
  EXPECT_EQ(consumed, 4u);
  EXPECT_EQ(readFailure("tru"), "teeth: bad JSON number");
}

TEST(TesseraJson, NumbersTakeWhatStrtodTakes) {
  EXPECT_EQ(readValue("+3").num, 3.0);
  EXPECT_EQ(readValue("0x10").num, 16.0);
  EXPECT_TRUE(std::isinf(readValue("-Infinity").num));
  EXPECT_TRUE(std::isnan(readValue("nan").num));
  size_t consumed = 0;
  EXPECT_EQ(readValue("12.5e1]", &consumed).num, 125.0);
  EXPECT_EQ(consumed, 6u);
  EXPECT_EQ(readFailure("-"), "teeth: bad JSON number");
  EXPECT_EQ(readFailure("]"), "teeth: bad JSON number");
}

TEST(TesseraJson, NumbersNeverReadPastTheInput) {
  // The digits after the range's end must not join the number.
  const std::string text = "12345";
  JParser parser(text.data(), text.data() + 3);
  EXPECT_EQ(parser.val().num, 123.0);
  EXPECT_EQ(parser.cursor(), text.data() + 3);
}

TEST(TesseraJson, StructuralFailures) {
  EXPECT_EQ(readFailure(""), "teeth: JSON truncated");
  EXPECT_EQ(readFailure(" \t\r\n"), "teeth: JSON truncated");
  EXPECT_EQ(readFailure("[1, 2,]"), "teeth: bad JSON number");
  EXPECT_EQ(readFailure("[1 2]"), "teeth: malformed JSON array");
  EXPECT_EQ(readFailure("[1,"), "teeth: JSON truncated");
  EXPECT_EQ(readFailure("[1"), "teeth: malformed JSON array");
  EXPECT_EQ(readFailure("["), "teeth: JSON truncated");
  EXPECT_EQ(readFailure(R"({"a": 1 "b": 2})"), "teeth: malformed JSON object");
  EXPECT_EQ(readFailure(R"({"a": 1)"), "teeth: malformed JSON object");
  EXPECT_EQ(readFailure(R"({"a")"), "teeth: JSON truncated");
  EXPECT_EQ(readFailure("{"), "teeth: JSON truncated");
  // Only the four JSON white-space bytes are skipped.
  EXPECT_EQ(readFailure("\v"), "teeth: bad JSON number");
}

TEST(TesseraJson, NestingIsCappedInsteadOfOverflowingTheStack) {
  const std::string deepest(kMaxNesting, '[');
  EXPECT_EQ(readFailure(deepest + "1" + std::string(kMaxNesting, ']')), ko::test::kNoFailure);
  EXPECT_EQ(readFailure(std::string(kMaxNesting + 1, '[')), "teeth: JSON nested too deeply");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(readFailure(objects), "teeth: JSON nested too deeply");
}

TEST(TesseraJson, ParseJsonWrapsFailuresWithTheLabel) {
  EXPECT_EQ(parseJson("  [1] trailing", "sidecar").arr.size(), 1u);
  EXPECT_EQ(failureText([] { parseJson("[1 2]", "sidecar"); }),
            "teeth: sidecar is not readable JSON: teeth: malformed JSON array");
  EXPECT_EQ(failureText([] { parseJson("", "head config"); }),
            "teeth: head config is not readable JSON: teeth: JSON truncated");
}

}  // namespace
}  // namespace ko::tessera::json
