#include "audio/motion_dump.h"

#include <cstdio>
#include <cstdlib>

#include "bundle/bundle.h"
#include "pool/pool.h"

namespace ko::motion {
namespace {

const char* const kAppended[] = {"xs.bin", "xd.bin", "xsla.bin", "xdla.bin", "cond.bin"};

}  // namespace

MotionDump::MotionDump() {
  const std::optional<std::string> dir = envNonEmpty("KO_MOTION_DUMP");
  if (!dir) return;
  dir_ = *dir;
  for (const char* name : kAppended) put(name, "wb", nullptr, 0);
}

void MotionDump::write(const char* name, const float* values, size_t count) {
  if (on()) put(name, "wb", values, count);
}

void MotionDump::append(const char* name, const float* values, size_t count) {
  if (on()) put(name, "ab", values, count);
}

void MotionDump::put(const char* name, const char* mode, const float* values, size_t count) {
  const std::string path = dir_ + "/" + name;
  File file = openFile(path, mode);
  const bool written = file &&
                       (count == 0 || std::fwrite(values, sizeof(float), count, file.get()) == count) &&
                       std::fclose(file.release()) == 0;
  if (!written && !warned_) {
    std::fprintf(stderr, "[ko_motion] KO_MOTION_DUMP: cannot write %s; the dump stops being complete\n",
                 path.c_str());
    warned_ = true;
  }
}

}  // namespace ko::motion
