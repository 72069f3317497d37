// Owner types for stdio streams and directory streams. Header-only, so the command-line tools can
// use them without linking the library's internals.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>
#include <string>

namespace ko {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// An open stdio stream; closed when the owner goes away.
using File = std::unique_ptr<std::FILE, FileCloser>;

inline File openFile(const std::string& path, const char* mode) {
  return File(std::fopen(path.c_str(), mode));
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
// An open directory stream; closed when the owner goes away.
using DirHandle = std::unique_ptr<DIR, DirCloser>;

inline DirHandle openDirectory(const std::string& path) {
  return DirHandle(opendir(path.c_str()));
}

}  // namespace ko
