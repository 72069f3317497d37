#include "graph/onnx_wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/failure_text.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;

// Every field of the message, decoded in order.
std::vector<GsField> fieldsOf(const Bytes& message) {
  std::vector<GsField> fields;
  GsReader reader(gsSliceOf(message));
  GsField field;
  while (reader.next(field)) fields.push_back(field);
  return fields;
}

std::string decodeFailure(const Bytes& message) {
  return test::failureText([&] { fieldsOf(message); });
}

// A key (or length) as a varint, followed by `rest`.
Bytes afterVarint(uint64_t value, const Bytes& rest) {
  Bytes message;
  gsPutVarint(message, value);
  message.insert(message.end(), rest.begin(), rest.end());
  return message;
}

TEST(VarintEncoding, SevenBitsPerByteLeastSignificantFirstAndRoundTripsAcrossTheRange) {
  EXPECT_EQ(afterVarint(300, {}), (Bytes{0xAC, 0x02}));
  for (uint64_t value : {uint64_t{0}, uint64_t{127}, uint64_t{128}, uint64_t{1} << 35, uint64_t{1} << 63,
                         std::numeric_limits<uint64_t>::max()}) {
    Bytes out;
    gsPutVarint(out, value);
    const uint8_t* cur = out.data();
    EXPECT_EQ(gsReadVarint(cur, out.data() + out.size()), value);
    EXPECT_EQ(cur, out.data() + out.size());
  }
}

TEST(FieldDecoding, ReportsNumberWireTypeValueAndSpans) {
  Bytes message;
  gsPutVarintField(message, 3, 150);
  gsPutString(message, 2, "abc");
  gsPutKey(message, 4, kGsFixed32);
  message.insert(message.end(), {1, 2, 3, 4});
  gsPutKey(message, 5, kGsFixed64);
  message.insert(message.end(), 8, 9);
  const std::vector<GsField> fields = fieldsOf(message);
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].number, 3u);
  EXPECT_EQ(fields[0].wireType, kGsVarint);
  EXPECT_EQ(fields[0].varint, 150u);
  EXPECT_EQ(fields[1].wireType, kGsLengthDelimited);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fields[1].payload.data), fields[1].payload.size),
            "abc");
  EXPECT_EQ(fields[1].raw.size, 5u);
  EXPECT_EQ(fields[2].raw.size, 5u);
  EXPECT_EQ(fields[2].raw.data[4], 4);
  EXPECT_EQ(fields[3].number, 5u);
  EXPECT_EQ(fields[3].raw.size, 9u);
}

TEST(FieldDecoding, RawSpansReEmittedReproduceTheInput) {
  Bytes message;
  gsPutVarintField(message, 1, std::numeric_limits<uint64_t>::max());
  gsPutString(message, 7, std::string(200, 'x'));
  gsPutString(message, 1000, "");
  gsPutKey(message, 4, kGsFixed32);
  message.insert(message.end(), 4, 0xFF);
  Bytes copy;
  for (const GsField& field : fieldsOf(message)) gsPutRaw(copy, field.raw.data, field.raw.size);
  EXPECT_EQ(copy, message);
}

TEST(DecodingErrors, NameTheFirstFaultOfTheMessage) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const struct {
    const char* name;
    Bytes message;
    const char* expected;
  } cases[] = {
      {"eleven-byte key", Bytes(11, 0xFF), "onnx: bad varint"},
      {"varint cut by the end", {0x08, 0x80}, "onnx: bad varint"},
      {"value missing", {0x08}, "onnx: bad varint"},
      {"key beyond 32 bits", afterVarint(uint64_t{1} << 32 | uint64_t{7} << 3 | kGsLengthDelimited, {0}),
       "onnx: bad varint"},
      {"length one past the end", {0x0A, 4, 1, 2, 3}, "onnx: truncated"},
      {"length 2^64 - 1", afterVarint(0x0A, afterVarint(kMax, {1, 2})), "onnx: truncated"},
      {"length 2^64 - 2", afterVarint(0x0A, afterVarint(kMax - 1, {1, 2})), "onnx: truncated"},
      {"short fixed32", {0x0D, 1, 2, 3}, "onnx: truncated"},
      {"short fixed64", {0x09, 1, 2, 3, 4, 5, 6, 7}, "onnx: truncated"},
      {"group start", {0x0B, 0}, "onnx: bad wire type"},
      {"group end", {0x0C, 0}, "onnx: bad wire type"},
      {"wire type 6", {0x0E, 0}, "onnx: bad wire type"},
      {"wire type 7", {0x0F, 0}, "onnx: bad wire type"},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeFailure(c.message), c.expected) << c.name;
}

TEST(DecodingErrors, NestedReaderStaysInsideItsPayload) {
  // The inner field claims more than its payload holds although the outer message has bytes left.
  Bytes inner;
  gsPutKey(inner, 1, kGsLengthDelimited);
  gsPutVarint(inner, 3);
  Bytes message;
  gsPutMessage(message, 2, inner);
  message.insert(message.end(), {0x08, 1, 0x08, 1});
  const std::vector<GsField> fields = fieldsOf(message);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(test::failureText([&] {
              GsReader reader(fields[0].payload);
              GsField field;
              reader.next(field);
            }),
            "onnx: truncated");
}

}  // namespace
}  // namespace ko
