// Still images on disk: decoding any format stb_image reads into packed 8-bit RGB, and writing
// packed RGB as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko {

// The image at path as width x height packed RGB (every format is converted to 3 channels).
// Throws "decode failed: <path>" when the file is missing or cannot be decoded.
std::vector<uint8_t> loadImageRGB(const std::string& path, int* width, int* height);

// Writes width x height packed RGB (rows of width * 3 bytes) as a PNG.
// Throws "png write failed: <path>".
void writePNG(const std::string& path, const uint8_t* rgb, int width, int height);

}  // namespace ko
