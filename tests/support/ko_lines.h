// The library's own report lines out of captured standard error (ONNX Runtime may log between them).
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace ko::test {

inline std::vector<std::string> koLines(const std::string& captured) {
  std::vector<std::string> lines;
  std::istringstream in(captured);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[ko")) lines.push_back(line);
  }
  return lines;
}

}  // namespace ko::test
