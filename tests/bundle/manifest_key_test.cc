#include "bundle/manifest_key.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>

#include "bundle/manifest_fields.h"
#include "tests/support/failure_text.h"

namespace ko {
namespace {

using manifest_key::keyHits;
using manifest_key::scalarValuePos;

std::string ambiguous(const std::string& key, const std::string& list, int count) {
  return "manifest: key \"" + key + "\" is AMBIGUOUS \u2014 " + std::to_string(count) +
         " scalar occurrences (" + list +
         "). A loader that picks one silently installs a number nobody checks. Rename the colliding key (a "
         "nested block must not reuse a name the bundle loader reads: NT/frame_count, H, W, crop/crop_size, "
         "amount, sigma, ksize, frames, M_src_w/paste_source_width, M_src_h/paste_source_height), or produce "
         "the bundle with the legacy manifest layout.";
}

std::string thrownBy(const std::string& text, const std::string& key) {
  return test::failureText([&] { scalarValuePos(text, key); });
}

TEST(KeyScanRecordsPositionDepthAndKind, OnNestedBlocks) {
  const std::string text = R"({"a": 1, "b": {"a" :  [2], "c": {"a":"x"}}})";
  const auto hits = keyHits(text, "a");
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].depth, 1u);
  EXPECT_EQ(text[hits[0].pos], '1');
  EXPECT_TRUE(hits[0].scalar);
  EXPECT_EQ(hits[1].depth, 2u);
  EXPECT_EQ(text[hits[1].pos], '[');
  EXPECT_FALSE(hits[1].scalar);
  EXPECT_EQ(hits[2].depth, 3u);
  EXPECT_EQ(text[hits[2].pos], '"');
  EXPECT_TRUE(hits[2].scalar);
}

TEST(KeyScanIgnoresKeyLikeTextInsideStrings, WithBracketsAndEscapes) {
  const std::string text = R"({"note": "\"W\": 5, {[", "W": 7, "x": "W"})";
  const auto hits = keyHits(text, "W");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].depth, 1u);
  EXPECT_EQ(text.substr(hits[0].pos, 1), "7");
}

TEST(KeyScanComparesKeysExactly, CaseAndLength) {
  EXPECT_TRUE(keyHits(R"({"w": 1, "WW": 2, "W ": 3})", "W").empty());
}

TEST(KeyScanStopsAtUnterminatedString, WithoutReadingPastTheText) {
  EXPECT_TRUE(keyHits(R"({"W": 1, "unterminated)", "unterminated").empty());
  const auto hits = keyHits(R"({"W":   )", "W");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].pos, 8u);  // the text length: nothing follows the colon
  EXPECT_FALSE(hits[0].scalar);
}

TEST(ScalarSelectionPrefersTheRoot, OverNestedScalars) {
  const std::string text = R"({"meta": {"NT": 3}, "NT": 9, "more": {"NT": 4}})";
  EXPECT_EQ(text.substr(scalarValuePos(text, "NT"), 1), "9");
}

TEST(ScalarSelectionTakesTheOnlyNestedScalar, WhenTheRootHasNone) {
  const std::string text = R"({"block": {"crop": 256}, "list": [{"other": 1}]})";
  EXPECT_EQ(text.substr(scalarValuePos(text, "crop"), 3), "256");
}

TEST(ScalarSelectionIgnoresBlocksOfTheSameName, AndReportsAbsence) {
  const std::string text = R"({"W": {"x": 1}, "H": [1, 2]})";
  EXPECT_EQ(scalarValuePos(text, "W"), manifest_key::npos);
  EXPECT_EQ(scalarValuePos(text, "H"), manifest_key::npos);
  EXPECT_EQ(scalarValuePos(text, "missing"), manifest_key::npos);
}

TEST(ScalarSelectionRefusesAmbiguity, ListingNestedOccurrences) {
  const std::string text = R"({"a": {"crop": 1}, "b": {"crop": 2}})";
  const auto hits = keyHits(text, "crop");
  ASSERT_EQ(hits.size(), 2u);
  const std::string list = "byte " + std::to_string(hits[0].pos) + ", byte " + std::to_string(hits[1].pos);
  EXPECT_EQ(thrownBy(text, "crop"), ambiguous("crop", list, 2));
}

TEST(ScalarSelectionRefusesAmbiguity, ListingOnlyRootOccurrences) {
  const std::string text = R"({"W": 1, "n": {"W": 5}, "W": 2})";
  const auto hits = keyHits(text, "W");
  ASSERT_EQ(hits.size(), 3u);
  const std::string list = "byte " + std::to_string(hits[0].pos) + ", byte " + std::to_string(hits[2].pos);
  EXPECT_EQ(thrownBy(text, "W"), ambiguous("W", list, 2));
}

TEST(ValueReadersFollowTheScalarRule, StringsAndNumbers) {
  const std::string text = R"({"s": "abc\"def", "n": -12.75e1xyz, "t": true, "e": "", "o": {"s": 1}})";
  EXPECT_EQ(strField(text, "s"), "abc\\");  // no escape processing: the value ends at the next quote
  EXPECT_DOUBLE_EQ(numField(text, "n"), -127.5);
  EXPECT_DOUBLE_EQ(numField(text, "t"), 0.0);  // no number reads as 0
  std::string out = "kept";
  EXPECT_FALSE(optStr(text, "t", out));
  EXPECT_EQ(out, "kept");
  EXPECT_FALSE(optStr(text, "missing", out));
  EXPECT_EQ(out, "kept");
  EXPECT_FALSE(optStr(text, "e", out));  // replaced, but empty
  EXPECT_EQ(out, "");
  EXPECT_TRUE(optStr(text, "s", out));
  EXPECT_EQ(out, "abc\\");
}

TEST(ValueReadersNameWhatIsMissing, InTheirMessages) {
  const std::string text = R"({"agent": 5, "frame_count": 7, "NT": -1e300})";
  EXPECT_EQ(test::failureText([&] { strField(text, "agent"); }), "manifest: bad string agent");
  EXPECT_EQ(test::failureText([&] { findKey(text, "W"); }), "manifest: missing key W");
  // -1e300 is the marker for a missing value, so the alias is read instead.
  EXPECT_DOUBLE_EQ(numFieldEither(text, "NT", "frame_count"), 7.0);
  EXPECT_EQ(test::failureText([&] { numFieldEither(text, "crop", "crop_size"); }),
            "manifest: missing key crop/crop_size");
}

TEST(NumbersConvertSafely, OutOfRangeAndLocaleFree) {
  EXPECT_EQ(truncateToInt(511.9), 511);
  EXPECT_EQ(truncateToInt(-3.7), -3);
  EXPECT_EQ(truncateToInt(1e300), 2147483647);
  EXPECT_EQ(truncateToInt(-1e300), -2147483647 - 1);
  EXPECT_EQ(truncateToInt(std::nan("")), 0);
  EXPECT_TRUE(std::isinf(leadingNumber("1e999,")));
  EXPECT_DOUBLE_EQ(leadingNumber("1e-999"), 0.0);
  EXPECT_DOUBLE_EQ(leadingNumber("2.5}"), 2.5);
}

// Every prefix of a manifest, held in a buffer of exactly its size, goes through every reader:
// under AddressSanitizer any read past the end of the text fails the test.
TEST(ReadersNeverReadPastTheText, OnEveryPrefixAndRandomBytes) {
  const std::string manifest =
      R"({"format": "ko-bundle-v0", "agent": "a\"b", "NT": 4, "n": {"W": [1, {"H": 2}]}, "crop": 5.5e-1})";
  std::mt19937 random(7);
  std::vector<std::string> inputs;
  for (size_t n = 0; n <= manifest.size(); ++n) inputs.push_back(manifest.substr(0, n));
  for (int i = 0; i < 200; ++i) {
    std::string noise(random() % 48, '\0');
    for (char& c : noise) c = "{}[]\":\\ ,0123456789.eE-WNTHagentcrop"[random() % 36];
    inputs.push_back(noise);
  }
  for (const std::string& input : inputs) {
    auto exact = std::make_unique<char[]>(input.size());
    std::copy(input.begin(), input.end(), exact.get());
    const std::string_view text(exact.get(), input.size());
    for (const char* key : {"format", "agent", "NT", "W", "H", "crop", "e"}) {
      try {
        keyHits(text, key);
        findKey(text, key);
        strField(text, key);
      } catch (const std::runtime_error&) {
      }
      try {
        numField(text, key);
      } catch (const std::runtime_error&) {
      }
      std::string out;
      try {
        optStr(text, key, out);
      } catch (const std::runtime_error&) {
      }
    }
  }
}

}  // namespace
}  // namespace ko
