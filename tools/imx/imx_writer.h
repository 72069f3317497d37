// Writing IMX version 2 containers: the packer behind `ko pack`, also used by the tests to build
// containers. Refuses every member name the library's reader refuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::tools {

struct ImxEntry {
  std::string name;   // relative path inside the bundle
  uint64_t size = 0;  // payload bytes
};

// Header and TOC for the entries, with the payloads laid out back to back right after the TOC in
// entry order. Throws on an unsafe name, a name longer than 65535 bytes or more than 65535 entries.
std::string encodeImxIndex(const std::vector<ImxEntry>& entries);

// Every regular file below dir (symbolic links to files included, directory links not followed),
// as sorted relative names.
std::vector<std::string> listBundleMembers(const std::string& dir);

// Packs the bundle directory into a container at outPath, streaming payloads through one buffer.
// The container appears under its final name only when complete.
void packImxDirectory(const std::string& dir, const std::string& outPath);

}  // namespace ko::tools
