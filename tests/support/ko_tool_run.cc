#include "tests/support/ko_tool_run.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace ko::test {

ToolRun runKo(const std::string& arguments) {
  const std::string command = "env -u KO_IMX_UNWRAP_ROOT " KO_TOOL_PATH " " + arguments + " 2>&1";
  ToolRun run;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> chunk;
  size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.output.append(chunk.data(), got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace ko::test
