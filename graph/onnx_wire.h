// The protocol-buffer wire format, as far as the ONNX codec needs it: byte spans over serialized
// messages, a field cursor that never leaves its span, and the key, varint and length-delimited
// writers. Messages are never materialised; every reader works on spans of the caller's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ko {

// A byte span into a serialized message; the bytes belong to the caller.
struct GsSlice {
  const uint8_t* data = nullptr;
  size_t size = 0;

  bool empty() const { return size == 0; }
};

inline GsSlice gsSliceOf(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), bytes.size()};
}

inline constexpr uint8_t kGsVarint = 0;
inline constexpr uint8_t kGsFixed64 = 1;
inline constexpr uint8_t kGsLengthDelimited = 2;
inline constexpr uint8_t kGsFixed32 = 5;

struct GsField {
  uint32_t number = 0;
  uint8_t wireType = 0;
  uint64_t varint = 0;  // wire type 0 only
  GsSlice payload;      // wire type 2 only
  GsSlice raw;          // key, length prefix and payload as they stood in the input
};

// Whether the field is the embedded message (or string) of that number.
inline bool gsIsMessage(const GsField& field, uint32_t number) {
  return field.number == number && field.wireType == kGsLengthDelimited;
}

// A cursor over one message. Decoding errors throw std::runtime_error with "onnx: bad varint",
// "onnx: truncated" or "onnx: bad wire type"; no read ever leaves the span.
class GsReader {
 public:
  explicit GsReader(GsSlice message) : cur_(message.data), end_(message.data + message.size) {}

  // Decodes the next field; false at the end of the span.
  bool next(GsField& field);

 private:
  const uint8_t* cur_;
  const uint8_t* end_;
};

// Decodes the varint at `cur` (at most ten bytes, never reading at or past `end`) and advances `cur`.
uint64_t gsReadVarint(const uint8_t*& cur, const uint8_t* end);

// Base-128, least significant group first.
void gsPutVarint(std::vector<uint8_t>& buffer, uint64_t value);
void gsPutKey(std::vector<uint8_t>& buffer, uint32_t field, uint8_t wireType);
void gsPutVarintField(std::vector<uint8_t>& buffer, uint32_t field, uint64_t value);
// Key (field·8 + 2), length varint, bytes.
void gsPutBytes(std::vector<uint8_t>& buffer, uint32_t field, const void* bytes, size_t length);
void gsPutString(std::vector<uint8_t>& buffer, uint32_t field, const std::string& text);
// A nested message already encoded into `body`.
void gsPutMessage(std::vector<uint8_t>& buffer, uint32_t field, const std::vector<uint8_t>& body);
// The bytes unchanged: how a kept field's raw span is copied.
void gsPutRaw(std::vector<uint8_t>& buffer, const void* bytes, size_t length);

}  // namespace ko
