#include "bundle/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace ko {
namespace {

// Closes the descriptor on every way out of mapFile; the mapping outlives it.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

MappedFile::~MappedFile() {
  if (base_) munmap(base_, length_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), length_(std::exchange(other.length_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (base_) munmap(base_, length_);
    base_ = std::exchange(other.base_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

MappedFile mapFile(const std::string& path, size_t expected) {
  const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw std::runtime_error("cannot open " + path);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || static_cast<uint64_t>(st.st_size) != expected) {
    throw std::runtime_error("size mismatch " + path);
  }
  void* base = mmap(nullptr, expected, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (base == MAP_FAILED) throw std::runtime_error("mmap failed " + path);
  return MappedFile(base, expected);
}

}  // namespace ko
