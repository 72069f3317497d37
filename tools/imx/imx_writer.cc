#include "tools/imx/imx_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "bundle/imx_format.h"
#include "bundle/posix_handles.h"

namespace ko::tools {
namespace {

constexpr uint64_t kMaxField16 = 0xFFFF;

void appendLE(std::string& out, uint64_t value, size_t bytes) {
  unsigned char buffer[8];
  imx::writeLE(buffer, value, bytes);
  out.append(reinterpret_cast<const char*>(buffer), bytes);
}

uint64_t indexSize(const std::vector<ImxEntry>& entries) {
  uint64_t size = imx::kHeaderBytes;
  for (const ImxEntry& entry : entries) size += 2 + entry.name.size() + 16;
  return size;
}

void collectMembers(const std::string& root, const std::string& prefix, std::vector<std::string>& out) {
  const std::string here = prefix.empty() ? root : root + "/" + prefix;
  const DirHandle dir = openDirectory(here);
  if (!dir) throw std::runtime_error("cannot read directory " + here);
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    struct stat st {};
    if (lstat((root + "/" + relative).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      collectMembers(root, relative, out);
    } else if (S_ISREG(st.st_mode) ||
               (S_ISLNK(st.st_mode) && stat((root + "/" + relative).c_str(), &st) == 0 &&
                S_ISREG(st.st_mode))) {
      out.push_back(relative);
    }
  }
}

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
  return static_cast<uint64_t>(st.st_size);
}

void copyPayload(const std::string& path, uint64_t size, std::FILE* out, std::vector<char>& buffer) {
  File in = openFile(path, "rb");
  if (!in) throw std::runtime_error("cannot open " + path);
  for (uint64_t left = size; left > 0;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    if (std::fread(buffer.data(), 1, want, in.get()) != want) throw std::runtime_error("short read " + path);
    if (std::fwrite(buffer.data(), 1, want, out) != want)
      throw std::runtime_error("short write packing " + path);
    left -= want;
  }
}

}  // namespace

std::string encodeImxIndex(const std::vector<ImxEntry>& entries) {
  if (entries.size() > kMaxField16) throw std::runtime_error("an IMX container holds at most 65535 members");
  std::string index(reinterpret_cast<const char*>(imx::kMagic), sizeof imx::kMagic);
  appendLE(index, imx::kVersion, 2);
  appendLE(index, entries.size(), 2);
  uint64_t offset = indexSize(entries);
  for (const ImxEntry& entry : entries) {
    if (!imx::isSafeMemberName(entry.name))
      throw std::runtime_error("refusing unsafe member name '" + entry.name + "'");
    if (entry.name.size() > kMaxField16) throw std::runtime_error("member name longer than 65535 bytes");
    appendLE(index, entry.name.size(), 2);
    index += entry.name;
    appendLE(index, offset, 8);
    appendLE(index, entry.size, 8);
    offset += entry.size;
  }
  return index;
}

std::vector<std::string> listBundleMembers(const std::string& dir) {
  std::vector<std::string> members;
  collectMembers(dir, "", members);
  std::sort(members.begin(), members.end());
  return members;
}

void packImxDirectory(const std::string& dir, const std::string& outPath) {
  std::vector<ImxEntry> entries;
  for (const std::string& name : listBundleMembers(dir))
    entries.push_back({name, fileSize(dir + "/" + name)});
  const std::string index = encodeImxIndex(entries);

  const std::string partPath = outPath + ".part";
  File out = openFile(partPath, "wb");
  if (!out) throw std::runtime_error("cannot write " + partPath);
  try {
    if (std::fwrite(index.data(), 1, index.size(), out.get()) != index.size()) {
      throw std::runtime_error("short write " + partPath);
    }
    std::vector<char> buffer(imx::kCopyBufferBytes);
    for (const ImxEntry& entry : entries) copyPayload(dir + "/" + entry.name, entry.size, out.get(), buffer);
    if (std::fclose(out.release()) != 0) throw std::runtime_error("short write " + partPath);
    if (std::rename(partPath.c_str(), outPath.c_str()) != 0)
      throw std::runtime_error("cannot place " + outPath);
  } catch (...) {
    out.reset();
    unlink(partPath.c_str());
    throw;
  }
}

}  // namespace ko::tools
