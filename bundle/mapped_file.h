// Read-only memory mappings of whole member files, so the large per-frame tensors are read in place
// and never copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ko {

// One private read-only mapping of a whole file, unmapped when the owner goes away. A default one
// maps nothing (null data).
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const uint8_t* data() const { return static_cast<const uint8_t*>(base_); }
  size_t size() const { return length_; }

 private:
  MappedFile(void* base, size_t length) : base_(base), length_(length) {}
  friend MappedFile mapFile(const std::string& path, size_t expected);

  void* base_ = nullptr;
  size_t length_ = 0;
};

// Maps the file, which must be exactly `expected` bytes long.
// Throws "cannot open <path>", "size mismatch <path>" or "mmap failed <path>".
MappedFile mapFile(const std::string& path, size_t expected);

}  // namespace ko
