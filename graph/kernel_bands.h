// Handing a kernel's bands of rows to ONNX Runtime's intra-op threads. The thread pool hands tasks over
// with synchronisation that ThreadSanitizer cannot see (the library is not instrumented), so an atomic
// carries the hand-over explicitly: published with release before the bands run, acquired by each band
// before it reads, released by each band after it writes, and acquired again once they have all
// returned. One atomic per band costs nothing measurable.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ko {

inline constexpr int64_t kKernelBandRows = 16;

// Band b covers rows [16b, 16b + 16), the last one cut at `rows`.
struct RowBand {
  int32_t begin;
  int32_t end;
};

inline size_t rowBandCount(int64_t rows) {
  return static_cast<size_t>((rows + kKernelBandRows - 1) / kKernelBandRows);
}

inline RowBand rowBand(size_t band, int64_t rows) {
  const int64_t begin = static_cast<int64_t>(band) * kKernelBandRows;
  return {static_cast<int32_t>(begin),
          static_cast<int32_t>(std::min<int64_t>(begin + kKernelBandRows, rows))};
}

namespace detail {

template <class Band>
struct BandHandOver {
  const Band* band;
  int64_t rows;
  std::atomic<size_t> bandsDone{0};
};

template <class Band>
void runHandedBand(void* data, size_t index) {
  auto& task = *static_cast<BandHandOver<Band>*>(data);
  task.bandsDone.load(std::memory_order_acquire);
  (*task.band)(rowBand(index, task.rows));
  task.bandsDone.fetch_add(1, std::memory_order_release);
}

}  // namespace detail

// Calls band(RowBand) for every band of `rows` rows on the context's threads and returns once all have.
template <class Band>
void runRowBands(Ort::KernelContext& context, int64_t rows, const Band& band) {
  detail::BandHandOver<Band> task{&band, rows};
  task.bandsDone.store(0, std::memory_order_release);
  context.ParallelFor(detail::runHandedBand<Band>, rowBandCount(rows), 0, &task);
  task.bandsDone.load(std::memory_order_acquire);
}

}  // namespace ko
