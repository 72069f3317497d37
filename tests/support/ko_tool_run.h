// Runs the `ko` command-line host as a user would, capturing what it prints.
#pragma once

#include <string>

namespace ko::test {

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

ToolRun runKo(const std::string& arguments);

}  // namespace ko::test
