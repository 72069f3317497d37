// Unpacking a 256 MiB IMX container against a plain kernel-side copy of the same bytes
// (copy_file_range). Both read a file the page cache already holds and both delete their previous
// output inside the timed loop. Compare the bytes_per_second medians of Unwrap and CopyFileRange.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "bench/support/ratio_report.h"
#include "bundle/imx_container.h"
#include "bundle/paths.h"
#include "bundle/posix_handles.h"
#include "tests/support/authoring.h"
#include "tests/support/temp_dir.h"
#include "tools/imx/imx_writer.h"

namespace {

constexpr size_t kMemberBytes = size_t{32} << 20;
constexpr int kMembers = 8;  // 256 MiB in all

// One container shared by both benchmarks, written once per process.
struct Fixture {
  ko::test::TempDir dir;
  std::string container = dir / "bench.imx";
  size_t bytes = 0;

  Fixture() {
    std::string payload(kMemberBytes, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 2654435761u) >> 13);
    ko::test::BundleBuilder bundle;
    for (int i = 0; i < kMembers; ++i) bundle.member("tensors/member" + std::to_string(i) + ".f16", payload);
    ko::test::writeBytes(container, ko::test::imxBytes(bundle.members()));
    bytes = kMembers * kMemberBytes;
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// Forces a full re-unwrap by removing the marker, as a changed container would.
void BM_Unwrap(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    ko::rmTree(f.dir / "bench.kobundle.imx_unwrapped");
    benchmark::DoNotOptimize(ko::unwrapOnce(f.container));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

void copyWhole(const std::string& from, const std::string& to) {
  const ko::File in = ko::openFile(from, "rb");
  const ko::File out = ko::openFile(to, "wb");
  if (!in || !out) throw std::runtime_error("cannot open the copy's files");
  while (copy_file_range(fileno(in.get()), nullptr, fileno(out.get()), nullptr, size_t{1} << 30, 0) > 0) {
  }
}

void BM_CopyFileRange(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    ko::rmTree(f.dir / "copy.bin");
    copyWhole(f.container, f.dir / "copy.bin");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

BENCHMARK(BM_Unwrap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyFileRange)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::runWithRatios(argc, argv, {{"BM_Unwrap", "BM_CopyFileRange"}});
}
