// Where frame i of a JPEG driver directory lives: "<dir>/frame_%06d.jpg", 0-based. Six digits is a
// minimum width; index 1000000 and up simply get more digits. Built as a string, never in a fixed
// buffer: a long bundle path cut short would name another file.
#pragma once

#include <cstdint>
#include <string>

namespace ko::driver {

std::string jpgFramePath(const std::string& dir, int32_t index);

}  // namespace ko::driver
