// IMX containers laid out byte by byte, for malformed input the project's packer would never write.
#pragma once

#include <string>
#include <vector>

namespace ko::test {

// One TOC entry laid by hand, with placement that need not make sense.
struct RawEntry {
  std::string name;
  unsigned long long offset = 0;
  unsigned long long size = 0;
};

// A container laid out byte by byte with any version, count and TOC, followed by `tail` — for
// malformed input the packer would never write.
std::string rawImx(unsigned version, unsigned count, const std::vector<RawEntry>& entries,
                   const std::string& tail);

}  // namespace ko::test
