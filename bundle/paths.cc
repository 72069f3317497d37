#include "bundle/paths.h"

#include "bundle/posix_handles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ko {

std::string rstripSlash(const std::string& path) {
  std::string out = path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string baseName(const std::string& path) {
  const std::string stripped = rstripSlash(path);
  const size_t slash = stripped.rfind('/');
  return slash == std::string::npos ? stripped : stripped.substr(slash + 1);
}

std::string dirName(const std::string& path) {
  const std::string stripped = rstripSlash(path);
  const size_t slash = stripped.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return stripped.substr(0, slash);
}

namespace {

void emptyDirectory(const std::string& path) {
  const DirHandle dir = openDirectory(path);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    rmTree(path + "/" + name);
  }
}

}  // namespace

void rmTree(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    emptyDirectory(path);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

bool mkdirs(const std::string& path) {
  if (path.empty() || path == ".") return true;
  if (isDirectory(path)) return true;
  const std::string parent = dirName(path);
  if (parent != path && !mkdirs(parent)) return false;
  if (mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && isDirectory(path);
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace ko
