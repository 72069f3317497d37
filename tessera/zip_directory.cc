#include "tessera/zip_directory.h"

#include <stdexcept>

namespace ko::tessera {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr size_t kEndRecord = 22, kCentralHeader = 46, kLocalHeader = 30;

// Callers have checked that the bytes lie inside the archive.
uint32_t u16(std::string_view a, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(a[at + 1])) << 8;
}
uint32_t u32(std::string_view a, size_t at) {
  return u16(a, at) | u16(a, at + 2) << 16;
}

[[noreturn]] void refuse(const char* what) {
  throw std::runtime_error(std::string("teeth: head .pt ") + what);
}

size_t findEndRecord(std::string_view archive) {
  const size_t last = archive.size() - kEndRecord;
  if (u32(archive, last) == kEndSignature) return last;
  for (size_t at = last; at-- > 0;) {
    if (u32(archive, at) == kEndSignature) return at;
  }
  refuse("has no zip EOCD");
}

ZipEntry readEntry(std::string_view archive, size_t at, size_t& next) {
  if (archive.size() < kCentralHeader || at > archive.size() - kCentralHeader ||
      u32(archive, at) != kCentralSignature) {
    refuse("central directory is malformed");
  }
  const uint32_t method = u16(archive, at + 10);
  const uint32_t compressed = u32(archive, at + 20), uncompressed = u32(archive, at + 24);
  const size_t nameLength = u16(archive, at + 28), extra = u16(archive, at + 30),
               comment = u16(archive, at + 32);
  const size_t local = u32(archive, at + 42);
  // The name must lie inside the archive too, or reading it would run past the end.
  if (nameLength > archive.size() - at - kCentralHeader) refuse("central directory is malformed");
  ZipEntry entry;
  entry.name = std::string(archive.substr(at + kCentralHeader, nameLength));
  if (method != 0)
    refuse(
        "entry is DEFLATEd; torch writes ZIP_STORED \xe2\x80\x94 refusing to guess at a compressed member");
  if (local + kLocalHeader > archive.size()) refuse("local header out of range");
  entry.start = local + kLocalHeader + u16(archive, local + 26) + u16(archive, local + 28);
  entry.length = uncompressed != 0 ? uncompressed : compressed;
  if (entry.start > archive.size() || entry.length > archive.size() - entry.start)
    refuse("entry out of range");
  next = at + kCentralHeader + nameLength + extra + comment;
  return entry;
}

}  // namespace

std::vector<ZipEntry> readZipDirectory(std::string_view archive) {
  if (archive.size() < kEndRecord) refuse("is not a zip");
  const size_t end = findEndRecord(archive);
  const uint32_t count = u16(archive, end + 10);
  size_t at = u32(archive, end + 16);
  if (count == 0) refuse("has no data.pkl");
  std::vector<ZipEntry> entries;
  entries.reserve(count);
  for (uint32_t i = 0; i < count; ++i) entries.push_back(readEntry(archive, at, at));
  return entries;
}

}  // namespace ko::tessera
