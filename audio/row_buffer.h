// Rows of one fixed width addressed by absolute index while the oldest rows are dropped from the
// front. A stream's audio, feature, hidden, wn and delta buffers are all of this kind: consumers keep
// counting frames from the start of the utterance, and memory stays bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ko {

class RowBuffer {
 public:
  explicit RowBuffer(size_t width) : width_(width) {}

  size_t width() const { return width_; }
  // Rows removed from the front so far; the first held row has this index.
  int64_t dropped() const { return dropped_; }
  // One past the last held row.
  int64_t end() const { return dropped_ + static_cast<int64_t>(data_.size() / width_); }
  bool holds(int64_t index) const { return index >= dropped_ && index < end(); }

  // The row at an absolute index; the caller checks holds() first.
  float* row(int64_t index) { return data_.data() + static_cast<size_t>(index - dropped_) * width_; }
  const float* row(int64_t index) const {
    return data_.data() + static_cast<size_t>(index - dropped_) * width_;
  }

  // Adds `rows` rows at the end and returns where they start, for the caller to fill.
  float* appendRows(size_t rows) {
    const size_t at = data_.size();
    data_.resize(at + rows * width_);
    return data_.data() + at;
  }
  // Extends the buffer with zero rows so that end() is at least endRow.
  void growTo(int64_t endRow) {
    if (endRow > end()) data_.resize(static_cast<size_t>(endRow - dropped_) * width_, 0.0f);
  }

  // Drops the rows before keepFrom, but only when that frees at least minRows, so that a long
  // stream erases in rare batches instead of moving its buffer every frame.
  void dropBefore(int64_t keepFrom, int64_t minRows) {
    if (keepFrom > end()) keepFrom = end();
    const int64_t count = keepFrom - dropped_;
    if (count < minRows || count <= 0) return;
    data_.erase(data_.begin(),
                data_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(count) * width_));
    dropped_ = keepFrom;
  }

  // Empties the buffer and restarts its indices at 0. Capacity above releaseBytes is returned to
  // the system; a smaller one is kept for the next utterance.
  void reset(size_t releaseBytes) {
    if (data_.capacity() * sizeof(float) > releaseBytes) {
      std::vector<float>().swap(data_);
    } else {
      data_.clear();
    }
    dropped_ = 0;
  }

  size_t capacityBytes() const { return data_.capacity() * sizeof(float); }

 private:
  size_t width_;
  int64_t dropped_ = 0;
  std::vector<float> data_;
};

}  // namespace ko
