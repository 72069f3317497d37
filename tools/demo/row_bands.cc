#include "tools/demo/row_bands.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace ko::demo {

void forRowBands(int rows, const std::function<void(int begin, int end)>& paint) {
  const int bands = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, std::max(rows, 1));
  std::vector<std::jthread> threads;
  threads.reserve(static_cast<size_t>(bands - 1));
  for (int band = 1; band < bands; ++band) {
    threads.emplace_back(paint, rows * band / bands, rows * (band + 1) / bands);
  }
  paint(0, rows / bands);
}

}  // namespace ko::demo
