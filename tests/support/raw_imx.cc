#include "tests/support/raw_imx.h"

namespace ko::test {
namespace {

void appendLittleEndian(std::string& out, unsigned long long value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string rawImx(unsigned version, unsigned count, const std::vector<RawEntry>& entries,
                   const std::string& tail) {
  std::string bytes("IMX\0", 4);
  appendLittleEndian(bytes, version, 2);
  appendLittleEndian(bytes, count, 2);
  for (const RawEntry& entry : entries) {
    appendLittleEndian(bytes, entry.name.size(), 2);
    bytes += entry.name;
    appendLittleEndian(bytes, entry.offset, 8);
    appendLittleEndian(bytes, entry.size, 8);
  }
  return bytes + tail;
}

}  // namespace ko::test
