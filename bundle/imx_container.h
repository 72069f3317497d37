// Bundle resolution: turning what a caller named into a bundle directory, unpacking an IMX
// container once beside it (or under KO_IMX_UNWRAP_ROOT).
#pragma once

#include <string>

namespace ko {

// The bundle directory for a path naming a directory, a container, a container without its
// ".imx" suffix, or an unwrap directory (whose container is then re-checked).
std::string resolveBundlePath(const std::string& path);

// True when the path is non-empty, names a regular file, and starts with the IMX magic and
// version 2. Never throws.
bool isImxV2File(const std::string& path);

// Makes sure the container's unwrap directory holds its current contents and returns that
// directory. Serialised by one process-wide lock; an unchanged container costs a marker read.
std::string unwrapOnce(const std::string& containerPath);

}  // namespace ko
