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

TEST(VarintEncoding, SevenBitsPerByteLeastSignificantFirst) {
  Bytes out;
  gsPutVarint(out, 300);
  EXPECT_EQ(out, (Bytes{0xAC, 0x02}));
}

TEST(VarintEncoding, RoundTripsAcrossTheRange) {
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

TEST(DecodingErrors, ElevenByteKeyIsBadVarint) {
  EXPECT_EQ(decodeFailure(Bytes(11, 0xFF)), "onnx: bad varint");
}

TEST(DecodingErrors, VarintCutByTheEndIsBadVarint) {
  EXPECT_EQ(decodeFailure(Bytes{0x08, 0x80}), "onnx: bad varint");
  EXPECT_EQ(decodeFailure(Bytes{0x08}), "onnx: bad varint");
}

TEST(DecodingErrors, KeyBeyondThirtyTwoBitsIsBadVarint) {
  Bytes message;
  gsPutVarint(message, uint64_t{1} << 32 | uint64_t{7} << 3 | kGsLengthDelimited);
  message.push_back(0);
  EXPECT_EQ(decodeFailure(message), "onnx: bad varint");
}

TEST(DecodingErrors, LengthOnePastTheEndIsTruncated) {
  Bytes message;
  gsPutKey(message, 1, kGsLengthDelimited);
  gsPutVarint(message, 4);
  message.insert(message.end(), {1, 2, 3});
  EXPECT_EQ(decodeFailure(message), "onnx: truncated");
}

TEST(DecodingErrors, LengthNearTwoToTheSixtyFourIsTruncated) {
  for (uint64_t length : {std::numeric_limits<uint64_t>::max(), std::numeric_limits<uint64_t>::max() - 1}) {
    Bytes message;
    gsPutKey(message, 1, kGsLengthDelimited);
    gsPutVarint(message, length);
    message.insert(message.end(), {1, 2});
    EXPECT_EQ(decodeFailure(message), "onnx: truncated");
  }
}

TEST(DecodingErrors, ShortFixedWidthFieldIsTruncated) {
  EXPECT_EQ(decodeFailure(Bytes{0x0D, 1, 2, 3}), "onnx: truncated");
  EXPECT_EQ(decodeFailure(Bytes{0x09, 1, 2, 3, 4, 5, 6, 7}), "onnx: truncated");
}

TEST(DecodingErrors, GroupsAndUnknownWireTypesAreBadWireType) {
  for (uint8_t wireType : {3, 4, 6, 7}) {
    Bytes message;
    gsPutKey(message, 1, wireType);
    message.push_back(0);
    EXPECT_EQ(decodeFailure(message), "onnx: bad wire type") << int{wireType};
  }
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
