#include "tests/support/movie_writer.h"

#include <filesystem>
#include <stdexcept>

#include "bundle/file_io.h"
#include "tests/support/temp_dir.h"

namespace ko::test {
namespace {

void appendLittleEndian(std::string& bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

void writeMovie(const std::string& path, const MovieRecipe& recipe, const PictureSource& picture) {
  tools::MovieEncoder movie(path, recipe);
  for (int i = 0; i < recipe.frames; ++i) {
    const YuvPicture yuv = picture(i);
    if (yuv.width != recipe.width || yuv.height != recipe.height || yuv.chroma != recipe.chroma()) {
      throw std::runtime_error("writeMovie: picture " + std::to_string(i) + " is not the movie's size");
    }
    const uint8_t* planes[3] = {yuv.y.data(), yuv.u.data(), yuv.v.data()};
    movie.encodePlanes(planes);
  }
  movie.finish();
}

void writeMovie(const std::string& path, const MovieRecipe& recipe) {
  writeMovie(path, recipe, [&recipe](int index) { return moviePicture(recipe, index); });
}

std::string movieBytes(const MovieRecipe& recipe, const std::string& extension) {
  const TempDir dir;
  const std::string path = dir / ("movie" + extension);
  writeMovie(path, recipe);
  return readFile(path);
}

YuvPicture moviePicture(const MovieRecipe& recipe, int index) {
  return patternPicture(recipe.width, recipe.height, recipe.chroma(), index);
}

void truncateFile(const std::string& path, uintmax_t bytes) {
  std::filesystem::resize_file(path, bytes);
}

void writeWav(const std::string& path, int rate, int channels, const std::vector<int16_t>& interleaved) {
  const uint32_t dataBytes = static_cast<uint32_t>(interleaved.size()) * 2;
  const uint32_t blockAlign = static_cast<uint32_t>(channels) * 2;
  std::string bytes = "RIFF";
  appendLittleEndian(bytes, 36 + dataBytes, 4);
  bytes += "WAVEfmt ";
  appendLittleEndian(bytes, 16, 4);  // format chunk size
  appendLittleEndian(bytes, 1, 2);   // PCM
  appendLittleEndian(bytes, static_cast<uint32_t>(channels), 2);
  appendLittleEndian(bytes, static_cast<uint32_t>(rate), 4);
  appendLittleEndian(bytes, static_cast<uint32_t>(rate) * blockAlign, 4);  // byte rate
  appendLittleEndian(bytes, blockAlign, 2);
  appendLittleEndian(bytes, 16, 2);  // bits per sample
  bytes += "data";
  appendLittleEndian(bytes, dataBytes, 4);
  for (const int16_t sample : interleaved) appendLittleEndian(bytes, static_cast<uint16_t>(sample), 2);
  writeBytes(path, bytes);
}

void writeSilentWav(const std::string& path, int samples) {
  writeWav(path, 16000, 1, std::vector<int16_t>(static_cast<size_t>(samples), 0));
}

}  // namespace ko::test
