#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <stdexcept>
#include <vector>

#include "bundle/file_io.h"
#include "bundle/paths.h"

namespace ko::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ko_test.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = buffer.data();
}

TempDir::~TempDir() {
  rmTree(path_);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* previous = std::getenv(name)) {
    previous_ = previous;
    hadPrevious_ = true;
  }
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (hadPrevious_) {
    setenv(name_.c_str(), previous_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace ko::test
