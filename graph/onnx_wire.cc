#include "graph/onnx_wire.h"

#include <limits>
#include <stdexcept>

namespace ko {
namespace {

// Ten groups of seven bits cover 64 bits; an eleventh byte can only be garbage.
constexpr unsigned kVarintShiftLimit = 70;

[[noreturn]] void failTruncated() {
  throw std::runtime_error("onnx: truncated");
}

size_t remaining(const uint8_t* cur, const uint8_t* end) {
  return static_cast<size_t>(end - cur);
}

}  // namespace

uint64_t gsReadVarint(const uint8_t*& cur, const uint8_t* end) {
  uint64_t value = 0;
  for (unsigned shift = 0; shift < kVarintShiftLimit; shift += 7) {
    if (cur == end) break;
    const uint8_t byte = *cur++;
    value |= uint64_t{byte & 0x7fu} << shift;
    if ((byte & 0x80u) == 0) return value;
  }
  throw std::runtime_error("onnx: bad varint");
}

bool GsReader::next(GsField& field) {
  if (cur_ == end_) return false;
  const uint8_t* start = cur_;
  const uint64_t key = gsReadVarint(cur_, end_);
  // Protocol buffers cap tags at 32 bits; a longer key would alias some other field number.
  if (key > std::numeric_limits<uint32_t>::max()) throw std::runtime_error("onnx: bad varint");
  field = GsField{};
  field.number = static_cast<uint32_t>(key >> 3);
  field.wireType = static_cast<uint8_t>(key & 7u);
  switch (field.wireType) {
    case kGsVarint:
      field.varint = gsReadVarint(cur_, end_);
      break;
    case kGsLengthDelimited: {
      const uint64_t length = gsReadVarint(cur_, end_);
      // Compared as counts, never as pointers: a length near 2^64 must not wrap the cursor.
      if (length > remaining(cur_, end_)) failTruncated();
      field.payload = {cur_, static_cast<size_t>(length)};
      cur_ += length;
      break;
    }
    case kGsFixed64:
    case kGsFixed32: {
      const size_t width = field.wireType == kGsFixed64 ? 8 : 4;
      if (width > remaining(cur_, end_)) failTruncated();
      cur_ += width;
      break;
    }
    default:
      throw std::runtime_error("onnx: bad wire type");
  }
  field.raw = {start, static_cast<size_t>(cur_ - start)};
  return true;
}

void gsPutVarint(std::vector<uint8_t>& buffer, uint64_t value) {
  while (value >= 0x80u) {
    buffer.push_back(static_cast<uint8_t>(value | 0x80u));
    value >>= 7;
  }
  buffer.push_back(static_cast<uint8_t>(value));
}

void gsPutKey(std::vector<uint8_t>& buffer, uint32_t field, uint8_t wireType) {
  gsPutVarint(buffer, uint64_t{field} << 3 | wireType);
}

void gsPutVarintField(std::vector<uint8_t>& buffer, uint32_t field, uint64_t value) {
  gsPutKey(buffer, field, kGsVarint);
  gsPutVarint(buffer, value);
}

void gsPutBytes(std::vector<uint8_t>& buffer, uint32_t field, const void* bytes, size_t length) {
  gsPutKey(buffer, field, kGsLengthDelimited);
  gsPutVarint(buffer, length);
  gsPutRaw(buffer, bytes, length);
}

void gsPutString(std::vector<uint8_t>& buffer, uint32_t field, const std::string& text) {
  gsPutBytes(buffer, field, text.data(), text.size());
}

void gsPutMessage(std::vector<uint8_t>& buffer, uint32_t field, const std::vector<uint8_t>& body) {
  gsPutBytes(buffer, field, body.data(), body.size());
}

void gsPutRaw(std::vector<uint8_t>& buffer, const void* bytes, size_t length) {
  if (length == 0) return;
  const auto* first = static_cast<const uint8_t*>(bytes);
  buffer.insert(buffer.end(), first, first + length);
}

}  // namespace ko
