#include "driver/image_io.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <memory>
#include <stdexcept>

namespace ko {
namespace {

constexpr int kRgbChannels = 3;

struct StbImageFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

std::vector<uint8_t> loadImageRGB(const std::string& path, int* width, int* height) {
  int w = 0;
  int h = 0;
  int channelsInFile = 0;
  const std::unique_ptr<stbi_uc, StbImageFree> pixels(
      stbi_load(path.c_str(), &w, &h, &channelsInFile, kRgbChannels));
  if (!pixels) throw std::runtime_error("decode failed: " + path);
  const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * kRgbChannels;
  std::vector<uint8_t> rgb(pixels.get(), pixels.get() + bytes);
  *width = w;
  *height = h;
  return rgb;
}

void writePNG(const std::string& path, const uint8_t* rgb, int width, int height) {
  const int stride = width * kRgbChannels;
  if (stbi_write_png(path.c_str(), width, height, kRgbChannels, rgb, stride) == 0) {
    throw std::runtime_error("png write failed: " + path);
  }
}

}  // namespace ko
