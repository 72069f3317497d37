// Whole-file reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/posix_handles.h"

namespace ko {

// True when the path opens for reading.
bool opensForReading(const std::string& path);

// The whole file, sized by seeking to its end and read in one call.
// Throws "cannot open <path>" or "short read <path>".
std::string readFile(const std::string& path);
// The same, as bytes.
std::vector<uint8_t> readBytes(const std::string& path);

// The whole file, read in 8192-byte chunks until end of file (works on pipes and special files).
// Throws "cannot open <path>".
std::string readText(const std::string& path);

}  // namespace ko
