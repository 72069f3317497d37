// The worker pool reads its size once per process, so a benchmark that compares thread counts runs
// each count in a child process of its own.
#pragma once

#include <functional>
#include <vector>

namespace ko::bench {

// For each count: forks, sets KO_CORE_THREADS in the child, runs body(count) there and waits for it.
// Returns 0 when every child returned 0, else 1.
int forEachThreadCount(const std::vector<int>& counts, const std::function<int(int)>& body);

}  // namespace ko::bench
