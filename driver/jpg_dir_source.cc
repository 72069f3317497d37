// The driver video as a directory of numbered JPEG files, one file decoded per frame.
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "driver/image_io.h"
#include "driver/jpg_frame_path.h"
#include "driver/source.h"

namespace ko::driver {
namespace {

class JpgDirSource final : public Source {
 public:
  JpgDirSource(std::string dir, int32_t nt, int32_t w, int32_t h)
      : dir_(std::move(dir)), NT_(nt), W_(w), H_(h) {}

  int32_t NT() const override { return NT_; }
  int32_t W() const override { return W_; }
  int32_t H() const override { return H_; }

  bool next(uint8_t* dst) override {
    if (pos_ >= NT_) return false;
    const std::string path = jpgFramePath(dir_, pos_);
    int w = 0;
    int h = 0;
    const std::vector<uint8_t> rgb = loadImageRGB(path, &w, &h);
    if (w != W_ || h != H_) {
      throw std::runtime_error("ko_driver: " + path + " is " + std::to_string(w) + "x" + std::to_string(h) +
                               ", the manifest says " + std::to_string(W_) + "x" + std::to_string(H_) +
                               " \u2014 refusing");
    }
    std::memcpy(dst, rgb.data(), frameBytes());
    ++pos_;
    return true;
  }

  void rewind() override { pos_ = 0; }

  void seek(int32_t frame) override {
    if (frame < 0 || frame >= NT_) throw std::runtime_error("ko_driver: seek outside the member");
    pos_ = frame;
  }

  std::string name() const override { return "jpg/stb"; }
  size_t residentBytes() const override { return 0; }

 private:
  std::string dir_;
  int32_t NT_;
  int32_t W_;
  int32_t H_;
  int32_t pos_ = 0;
};

}  // namespace

std::unique_ptr<Source> openJpgDir(const std::string& dir, int32_t NT, int32_t W, int32_t H) {
  return std::make_unique<JpgDirSource>(dir, NT, W, H);
}

}  // namespace ko::driver
