// Path and directory helpers shared by bundle resolution and the IMX unwrap.
#pragma once

#include <string>

namespace ko {

// Removes trailing slashes while the string is longer than one character ("/" stays "/").
std::string rstripSlash(const std::string& path);

// The text after the last slash of the stripped path, or the whole stripped path.
std::string baseName(const std::string& path);

// "." when the stripped path has no slash, "/" when its only slash is the first character,
// otherwise the text before the last slash.
std::string dirName(const std::string& path);

// Removes a path recursively without following symbolic links. A missing path is ignored.
void rmTree(const std::string& path);

// Creates a directory and its missing parents (mode 0755). True when the directory exists
// afterwards, also when someone else created it first.
bool mkdirs(const std::string& path);

// True when the path names a directory (following symbolic links).
bool isDirectory(const std::string& path);

// True when the path exists in any form (a dangling symbolic link counts).
bool pathExists(const std::string& path);

}  // namespace ko
