#include "tools/ko/frame_output.h"

#include <stb_image_write.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tools/media/movie_encoder.h"

namespace ko::cli {
namespace {

// Visually clean at a few hundred kilobytes per second for a talking head.
constexpr int kMovieQuantizer = 20;

bool isMoviePath(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  return extension == ".mp4" || extension == ".mov" || extension == ".mkv";
}

// The reason an H.264 movie cannot hold the frames, or "" when it can.
std::string oddSize(int width, int height) {
  if (width % 2 == 0 && height % 2 == 0) return "";
  return "an H.264 movie needs an even frame size, and frames are " + std::to_string(width) + "x" +
         std::to_string(height);
}

tools::MovieSettings movieSettings(int width, int height, int fps) {
  return {.width = width, .height = height, .fps = fps, .quantizer = kMovieQuantizer};
}

class MovieOutput final : public FrameOutput {
 public:
  MovieOutput(const std::string& path, int width, int height, int fps)
      : movie_(path, movieSettings(width, height, fps)) {}
  void write(const uint8_t* rgb) override { movie_.encodeRgb(rgb); }
  void finish() override { movie_.finish(); }

 private:
  tools::MovieEncoder movie_;
};

class PngDirectoryOutput final : public FrameOutput {
 public:
  PngDirectoryOutput(std::string dir, int width, int height)
      : dir_(std::move(dir)), width_(width), height_(height) {
    std::error_code error;
    std::filesystem::create_directories(dir_, error);
    if (error) throw std::runtime_error("cannot create the directory " + dir_ + ": " + error.message());
  }
  void write(const uint8_t* rgb) override {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06d.png", written_++);
    writePng(dir_ + name, rgb, width_, height_);
  }
  void finish() override {}

 private:
  std::string dir_;
  int width_, height_;
  int written_ = 0;
};

}  // namespace

std::unique_ptr<FrameOutput> openFrameOutput(const std::string& path, int width, int height, int fps) {
  if (!isMoviePath(path)) return std::make_unique<PngDirectoryOutput>(path, width, height);
  const std::string odd = oddSize(width, height);
  if (!odd.empty()) throw std::runtime_error(odd + "; write PNG frames to a directory instead");
  return std::make_unique<MovieOutput>(path, width, height, fps);
}

std::unique_ptr<tools::MovieEncoder> openSpokenMovie(const std::string& path, int width, int height, int fps,
                                                     int audioRate) {
  if (!isMoviePath(path)) {
    throw std::runtime_error(path + " is no movie path: speech needs an .mp4, .mov or .mkv movie to play in");
  }
  const std::string odd = oddSize(width, height);
  if (!odd.empty()) throw std::runtime_error(odd);
  tools::MovieSettings settings = movieSettings(width, height, fps);
  settings.audioRate = audioRate;
  return std::make_unique<tools::MovieEncoder>(path, settings);
}

void writePng(const std::string& path, const uint8_t* rgb, int width, int height) {
  if (stbi_write_png(path.c_str(), width, height, 3, rgb, 3 * width) == 0) {
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace ko::cli
