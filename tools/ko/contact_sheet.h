// A contact sheet: a grid of frames picked evenly over a render, each shrunk to a tile, written as
// one PNG so a person can see at a glance what a render did.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ko::cli {

class ContactSheet {
 public:
  // Frames of width x height; `total` frames will be offered. Tiles are `tileWidth` wide.
  ContactSheet(int width, int height, int total, int columns = 4, int rows = 3, int tileWidth = 320);
  ~ContactSheet();
  ContactSheet(const ContactSheet&) = delete;
  ContactSheet& operator=(const ContactSheet&) = delete;

  // Frame `index` (0-based, offered in order); kept when it is one of the picked frames.
  void offer(int index, const uint8_t* rgb);
  // Throws std::runtime_error when the file cannot be written.
  void write(const std::string& path) const;

  int sheetWidth() const { return columns_ * tileWidth_; }
  int sheetHeight() const { return rows_ * tileHeight_; }

  struct Scaler;

 private:
  int width_, height_, columns_, rows_, tileWidth_, tileHeight_;
  std::vector<int> picked_;  // frame index per tile
  std::vector<uint8_t> sheet_;
  std::unique_ptr<Scaler> scaler_;
};

}  // namespace ko::cli
