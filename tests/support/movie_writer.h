// Small movies encoded with FFmpeg's own libraries, as fixtures for the movie-backed frame sources.
// libx264 and libx265 encode losslessly, so a decoded frame can be compared exactly against the
// picture that went in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/yuv_picture.h"
#include "tools/media/movie_encoder.h"

namespace ko::test {

// The encoder's settings and the number of pictures to encode.
struct MovieRecipe : tools::MovieSettings {
  int frames = 6;
  Chroma chroma() const { return fullChroma ? Chroma::Yuv444p : Chroma::Yuv420p; }
};

// Picture `index` of the movie, in the recipe's size and chroma layout.
using PictureSource = std::function<YuvPicture(int index)>;

// Encodes recipe.frames pictures into `path`. The container follows the extension: .mp4 and .mov
// count their frames; .mkv and a raw .h264 stream do not. Throws std::runtime_error on failure.
void writeMovie(const std::string& path, const MovieRecipe& recipe, const PictureSource& picture);

// The same with patternPicture(width, height, chroma, index) as picture `index`.
void writeMovie(const std::string& path, const MovieRecipe& recipe);

// The bytes of writeMovie(recipe) in a container chosen by `extension` (".mp4", ".mov", ...).
std::string movieBytes(const MovieRecipe& recipe, const std::string& extension);

// Picture `index` of writeMovie(path, recipe).
YuvPicture moviePicture(const MovieRecipe& recipe, int index);

// Keeps the first `bytes` bytes of the file.
void truncateFile(const std::string& path, uintmax_t bytes);

// A RIFF/WAVE file of 16-bit PCM: `interleaved` holds one sample per channel per instant.
void writeWav(const std::string& path, int rate, int channels, const std::vector<int16_t>& interleaved);

// A RIFF/WAVE file of `samples` silent 16-bit mono samples: a container with no video stream.
void writeSilentWav(const std::string& path, int samples);

}  // namespace ko::test
