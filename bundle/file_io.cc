#include "bundle/file_io.h"

#include <sys/stat.h>

#include <stdexcept>

namespace ko {

bool opensForReading(const std::string& path) {
  return openFile(path, "rb") != nullptr;
}

namespace {

template <class Buffer>
Buffer readWhole(const std::string& path) {
  File file = openFile(path, "rb");
  // A directory opens for reading too, but has no size to read in one call.
  struct stat st {};
  if (!file || fstat(fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode))
    throw std::runtime_error("cannot open " + path);
  if (std::fseek(file.get(), 0, SEEK_END) != 0) throw std::runtime_error("short read " + path);
  const long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) throw std::runtime_error("short read " + path);
  Buffer contents(static_cast<size_t>(size), 0);
  if (std::fread(contents.data(), 1, contents.size(), file.get()) != contents.size()) {
    throw std::runtime_error("short read " + path);
  }
  return contents;
}

}  // namespace

std::string readFile(const std::string& path) {
  return readWhole<std::string>(path);
}

std::vector<uint8_t> readBytes(const std::string& path) {
  return readWhole<std::vector<uint8_t>>(path);
}

std::string readText(const std::string& path) {
  File file = openFile(path, "rb");
  if (!file) throw std::runtime_error("cannot open " + path);
  std::string text;
  char chunk[8192];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, got);
  return text;
}

}  // namespace ko
