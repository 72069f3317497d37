#include "bench/support/thread_runs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ko::bench {

int forEachThreadCount(const std::vector<int>& counts, const std::function<int(int)>& body) {
  int failures = 0;
  for (int count : counts) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
      std::perror("fork");
      return 1;
    }
    if (child == 0) {
      setenv("KO_CORE_THREADS", std::to_string(count).c_str(), 1);
      std::exit(body(count));
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace ko::bench
