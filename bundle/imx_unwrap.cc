#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/file_io.h"
#include "bundle/imx_container.h"
#include "bundle/imx_format.h"
#include "bundle/paths.h"
#include "pool/pool.h"

namespace ko {
namespace {

std::mutex& unwrapMutex() {
  static std::mutex mutex;
  return mutex;
}

struct UnwrapPlace {
  std::string dir;
  std::string marker;
};

std::string bundleNameOf(const std::string& containerPath) {
  std::string name = baseName(containerPath);
  if (name.ends_with(".imx")) name.resize(name.size() - 4);
  if (!name.ends_with(".kobundle")) name += ".kobundle";
  return name;
}

UnwrapPlace unwrapPlaceOf(const std::string& containerPath) {
  const std::string root = envNonEmpty("KO_IMX_UNWRAP_ROOT").value_or(dirName(containerPath));
  // Unlike rstripSlash, a root of "/" strips to "" so the directory becomes "/<name>".
  std::string strippedRoot = root;
  while (!strippedRoot.empty() && strippedRoot.back() == '/') strippedRoot.pop_back();
  const std::string dir = strippedRoot + "/" + bundleNameOf(containerPath);
  return {dir, dir + ".imx_unwrapped"};
}

// Identifies one exact state of the container file: a changed name, size, time or inode means
// the unwrap directory is stale.
std::string stampOf(const std::string& containerPath) {
  struct stat st {};
  if (lstat(containerPath.c_str(), &st) != 0)
    throw std::runtime_error("cannot stat container " + containerPath);
  const long long mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return "imx-unwrapped.v2 " + baseName(containerPath) + " " + std::to_string(st.st_size) + " " +
         std::to_string(mtimeNs) + " " + std::to_string(static_cast<unsigned long long>(st.st_ino));
}

std::string trimmed(const std::string& text) {
  const char* space = " \t\r\n";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool markerMatches(const UnwrapPlace& place, const std::string& stamp) {
  if (!isDirectory(place.dir) || !opensForReading(place.marker)) return false;
  try {
    return trimmed(readText(place.marker)) == stamp;
  } catch (const std::runtime_error&) {
    return false;
  }
}

struct TocEntry {
  std::string name;
  uint64_t offset = 0;
  uint64_t size = 0;
};

// The container opened for reading, with its header and TOC checked.
class Container {
 public:
  explicit Container(const std::string& path) : path_(path), file_(openFile(path, "rb")) {
    if (!file_) throw std::runtime_error("cannot open container " + path);
    struct stat st {};
    if (fstat(fileno(file_.get()), &st) == 0) fileSize_ = static_cast<uint64_t>(st.st_size);
  }

  std::vector<TocEntry> readToc() {
    unsigned char header[imx::kHeaderBytes];
    if (!readExactly(header, sizeof header) || std::memcmp(header, imx::kMagic, sizeof imx::kMagic) != 0) {
      throw std::runtime_error(path_ + ": not an IMX\\0 container");
    }
    const uint64_t version = imx::readLE(header + 4, 2);
    if (version != imx::kVersion) {
      throw std::runtime_error(path_ + ": unsupported IMX container version " + std::to_string(version));
    }
    const uint64_t count = imx::readLE(header + 6, 2);
    std::vector<TocEntry> toc;
    toc.reserve(count);
    for (uint64_t i = 0; i < count; ++i) toc.push_back(readTocEntry(i));
    return toc;
  }

  // Positions the stream at a member's payload, refusing one that does not lie inside the file.
  void seekTo(const TocEntry& entry) {
    if (entry.offset > static_cast<uint64_t>(INT64_MAX) ||
        fseeko(file_.get(), static_cast<off_t>(entry.offset), SEEK_SET) != 0) {
      throw std::runtime_error(path_ + ": cannot seek to member " + entry.name);
    }
    if (entry.offset > fileSize_ || entry.size > fileSize_ - entry.offset) throw truncatedPayload(entry);
  }

  // Reads up to count bytes of the current payload; 0 means the file ended early.
  size_t read(char* into, size_t count) { return std::fread(into, 1, count, file_.get()); }

  std::runtime_error truncatedPayload(const TocEntry& entry) const {
    return std::runtime_error(path_ + ": truncated payload for member " + entry.name);
  }

 private:
  bool readExactly(void* into, size_t count) { return std::fread(into, 1, count, file_.get()) == count; }

  TocEntry readTocEntry(uint64_t index) {
    unsigned char lengthBytes[2];
    if (!readExactly(lengthBytes, sizeof lengthBytes)) {
      throw std::runtime_error(path_ + ": truncated TOC at member " + std::to_string(index));
    }
    TocEntry entry;
    entry.name.resize(imx::readLE(lengthBytes, 2));
    if (!readExactly(entry.name.data(), entry.name.size())) {
      throw std::runtime_error(path_ + ": truncated member name at " + std::to_string(index));
    }
    unsigned char placement[16];
    if (!readExactly(placement, sizeof placement)) {
      throw std::runtime_error(path_ + ": truncated TOC offsets at member " + entry.name);
    }
    entry.offset = imx::readLE(placement, 8);
    entry.size = imx::readLE(placement + 8, 8);
    return entry;
  }

  std::string path_;
  File file_;
  uint64_t fileSize_ = 0;
};

// Creates base, or base.1, base.2, ... when taken, never opening a file that already exists.
// Null when the directory refuses the file.
File createExclusive(const std::string& base, std::string& chosen) {
  for (unsigned attempt = 0;; ++attempt) {
    chosen = attempt == 0 ? base : base + "." + std::to_string(attempt);
    const int fd = open(chosen.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return nullptr;
    File file(fdopen(fd, "wb"));
    if (!file) {
      close(fd);
      unlink(chosen.c_str());
    }
    return file;
  }
}

// A member's temporary file: removed unless it was renamed onto its final name, so neither a
// half-written payload nor a stray ".part" survives a failure. When "<name>.part" is itself a
// member already placed, a numbered name is taken instead of overwriting that member.
class PartFile {
 public:
  explicit PartFile(std::string destination) : destination_(std::move(destination)) {
    file_ = createExclusive(destination_ + ".part", path_);
    if (!file_) throw std::runtime_error("cannot write " + path_);
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile() {
    file_.reset();
    if (!placed_) unlink(path_.c_str());
  }

  void write(const char* bytes, size_t count) {
    if (std::fwrite(bytes, 1, count, file_.get()) != count) {
      throw std::runtime_error("short write materialising " + destination_);
    }
  }

  void place() {
    const bool flushed = std::fflush(file_.get()) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    if (!flushed || !closed) throw std::runtime_error("flush failed materialising " + destination_);
    if (std::rename(path_.c_str(), destination_.c_str()) != 0) {
      throw std::runtime_error("cannot place member " + destination_);
    }
    placed_ = true;
  }

 private:
  std::string destination_;
  std::string path_;
  File file_;
  bool placed_ = false;
};

bool isSyntheticManifest(Container& container, const TocEntry& entry) {
  if (entry.name != "manifest.json" || entry.size < 1 || entry.size > imx::kMaxSyntheticManifestBytes)
    return false;
  container.seekTo(entry);
  std::string payload(entry.size, '\0');
  if (container.read(payload.data(), payload.size()) != payload.size()) return false;
  return payload.find(imx::kSyntheticManifestMark) != std::string::npos;
}

void materialise(Container& container, const TocEntry& entry, const std::string& unwrapDir,
                 std::vector<char>& buffer) {
  const std::string destination = unwrapDir + "/" + entry.name;
  const std::string parent = dirName(destination);
  if (!mkdirs(parent)) throw std::runtime_error("cannot create " + parent);
  container.seekTo(entry);
  PartFile part(destination);
  for (uint64_t left = entry.size; left > 0;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    const size_t got = container.read(buffer.data(), want);
    if (got == 0) throw container.truncatedPayload(entry);
    part.write(buffer.data(), got);
    left -= got;
  }
  part.place();
}

void writeMarker(const std::string& markerPath, const std::string& stamp) {
  File marker = openFile(markerPath, "wb");
  if (!marker) throw std::runtime_error("cannot write unwrap marker " + markerPath);
  const bool written = std::fwrite(stamp.data(), 1, stamp.size(), marker.get()) == stamp.size();
  const bool flushed = std::fflush(marker.get()) == 0;
  const bool closed = std::fclose(marker.release()) == 0;
  if (!written || !flushed || !closed) throw std::runtime_error("short write on unwrap marker " + markerPath);
}

void unpackInto(const std::string& containerPath, const std::string& unwrapDir) {
  Container container(containerPath);
  const std::vector<TocEntry> toc = container.readToc();
  std::vector<char> buffer(imx::kCopyBufferBytes);
  for (const TocEntry& entry : toc) {
    if (!imx::isSafeMemberName(entry.name)) {
      throw std::runtime_error(containerPath + ": refusing unsafe member name '" + entry.name + "'");
    }
    if (isSyntheticManifest(container, entry)) continue;
    materialise(container, entry, unwrapDir, buffer);
  }
}

}  // namespace

std::string unwrapOnce(const std::string& containerPath) {
  const UnwrapPlace place = unwrapPlaceOf(containerPath);
  std::lock_guard<std::mutex> lock(unwrapMutex());
  const std::string stamp = stampOf(containerPath);
  if (markerMatches(place, stamp)) return place.dir;

  // The marker goes first and comes back last: any failure in between leaves a directory the
  // next call recognises as stale and rebuilds from scratch.
  unlink(place.marker.c_str());
  rmTree(place.dir);
  if (!mkdirs(place.dir)) throw std::runtime_error("cannot create unwrap dir " + place.dir);
  unpackInto(containerPath, place.dir);
  writeMarker(place.marker, stamp);
  std::fprintf(stderr, "[ko] unwrapped %s -> %s\n", containerPath.c_str(), place.dir.c_str());
  return place.dir;
}

}  // namespace ko
