// Side-by-side benchmarks: runs every registered benchmark with the console reporter, then prints
// for each pair the ratio of the median real times, so one run shows how the library compares
// with what a user would otherwise call.
#pragma once

#include <string>
#include <vector>

namespace ko::bench {

struct Comparison {
  std::string ours;    // benchmark function name of the library's path
  std::string theirs;  // benchmark function name of the alternative
};

// Use as the benchmark's main. Prints "<theirs> / <ours> median time: R" (R > 1: ours is faster).
int runWithRatios(int argc, char** argv, const std::vector<Comparison>& comparisons);

}  // namespace ko::bench
