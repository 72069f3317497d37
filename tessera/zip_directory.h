// The directory of a ZIP archive of stored (uncompressed) entries, as PyTorch's serializer writes
// them. Every offset and length is checked against the archive before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ko::tessera {

struct ZipEntry {
  std::string name;
  size_t start = 0;  // of the entry's data inside the archive
  size_t length = 0;
};

// Throws "teeth: head .pt is not a zip", "... has no zip EOCD", "... has no data.pkl", "... central
// directory is malformed", "... entry is DEFLATEd; ...", "... local header out of range" or
// "... entry out of range".
std::vector<ZipEntry> readZipDirectory(std::string_view archive);

}  // namespace ko::tessera
