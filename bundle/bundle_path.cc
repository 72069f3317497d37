#include <sys/stat.h>

#include <cstring>

#include "bundle/file_io.h"
#include "bundle/imx_container.h"
#include "bundle/imx_format.h"
#include "bundle/paths.h"

namespace ko {

bool isImxV2File(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  File file = openFile(path, "rb");
  unsigned char header[imx::kHeaderBytes];
  if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header) return false;
  return std::memcmp(header, imx::kMagic, sizeof imx::kMagic) == 0 &&
         imx::readLE(header + 4, 2) == imx::kVersion;
}

std::string resolveBundlePath(const std::string& path) {
  if (path.empty()) return path;
  const std::string stripped = rstripSlash(path);
  // A plain directory is the bundle; an unwrap directory goes on so its container is re-checked.
  if (isDirectory(path) && !pathExists(stripped + ".imx_unwrapped")) return path;
  if (path.size() > 3 && path.ends_with(".imx") && isImxV2File(path)) return unwrapOnce(path);
  const std::string sibling = stripped + ".imx";
  if (isImxV2File(sibling)) return unwrapOnce(sibling);
  if (isImxV2File(path)) return unwrapOnce(path);
  return path;
}

}  // namespace ko
