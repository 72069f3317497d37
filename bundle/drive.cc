#include "bundle/drive.h"

#include <sys/stat.h>

#include <stdexcept>

#include "bundle/manifest.h"
#include "bundle/member_names.h"
#include "bundle/posix_handles.h"

namespace ko {
namespace {

// A regular file whose length already disagrees is refused before anything is allocated: a
// manifest claiming billions of rows must not zero-fill gigabytes only to find the file short.
template <class T>
bool knownWrongLength(std::FILE* file, size_t count) {
  struct stat st {};
  if (count > std::vector<T>().max_size() || fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  return static_cast<uint64_t>(st.st_size) != count * sizeof(T);
}

// Exactly `count` elements of T, stored raw in the machine's (little-endian) byte order, and
// nothing after them.
template <class T>
std::vector<T> readExactly(const std::string& path, size_t count) {
  File file = openFile(path, "rb");
  if (!file) throw std::runtime_error("cannot open " + path);
  if (knownWrongLength<T>(file.get(), count)) throw std::runtime_error("size mismatch " + path);
  std::vector<T> values(count);  // a count beyond max_size() fails here with the vector's length error
  const size_t got = std::fread(values.data(), sizeof(T), count, file.get());
  if (got != count || std::fgetc(file.get()) != EOF) throw std::runtime_error("size mismatch " + path);
  return values;
}

// A negative count wraps to a size no vector can hold, so the vector's own length error reports it.
size_t tableCount(int32_t rows, int32_t perRow) {
  return static_cast<size_t>(static_cast<int64_t>(rows) * perRow);
}

}  // namespace

std::vector<float> readRaw(const std::string& path, size_t count) {
  return readExactly<float>(path, count);
}

Drive loadDrive(const Manifest& manifest) {
  Drive drive;
  drive.frames = manifest.frames;
  const size_t keypointCount = tableCount(drive.frames, kKeypointFloats);
  drive.xs = readRaw(resolveMember(manifest.dir, "drive/xs.f32"), keypointCount);
  drive.xd = readRaw(resolveMember(manifest.dir, "drive/xd.f32"), keypointCount);
  drive.si = readExactly<int32_t>(resolveMember(manifest.dir, "drive/si.i32"), tableCount(drive.frames, 1));
  for (const int32_t si : drive.si) {
    if (si < 0 || si >= manifest.NT) throw std::runtime_error("drive: si out of range");
  }
  return drive;
}

}  // namespace ko
