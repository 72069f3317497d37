#include "pool/pool.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace ko::pool {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Parses an optionally signed decimal integer with optional surrounding blanks into a count of at
// least 1, saturating rather than wrapping on huge values. False for anything else, so the caller
// can fall through to the next source.
bool parseCount(const char* value, int32_t& count) {
  if (!value) return false;
  std::string_view text(value);
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    magnitude = std::min(kMax, magnitude * 10 + (c - '0'));
  }
  count = negative ? 1 : static_cast<int32_t>(std::max<int64_t>(1, magnitude));
  return true;
}

// One caller thread's workers and the job they are serving. Every field below mu is read and
// written under mu only; job is valid from publication until remaining drops to 0.
struct Pool {
  explicit Pool(int32_t threadCount);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  void workerLoop(int32_t index) noexcept;

  int32_t nthreads = 1;  // the caller plus the workers that actually started
  std::vector<std::thread> workers;
  std::mutex mu;
  std::condition_variable cvWork;
  std::condition_variable cvDone;
  RangeFn job;
  uint64_t n = 0;
  int32_t parts = 0;
  int32_t remaining = 0;
  uint64_t generation = 0;
  bool stop = false;
};

Pool::Pool(int32_t threadCount) {
  workers.reserve(static_cast<size_t>(threadCount - 1));
  for (int32_t index = 1; index < threadCount; ++index) {
    try {
      workers.emplace_back([this, index] { workerLoop(index); });
    } catch (const std::system_error&) {
      // Out of threads: run with the workers already started rather than failing every call.
      break;
    }
  }
  nthreads = static_cast<int32_t>(workers.size()) + 1;
}

Pool::~Pool() {
  {
    std::lock_guard<std::mutex> lock(mu);
    ++generation;
    stop = true;
  }
  cvWork.notify_all();
  for (std::thread& worker : workers) worker.join();
}

// noexcept: a callback that throws here has no caller to reach, so it ends the process at once
// instead of leaving the owner waiting for a report that never comes.
void Pool::workerLoop(int32_t index) noexcept {
  uint64_t served = 0;
  std::unique_lock<std::mutex> lock(mu);
  for (;;) {
    cvWork.wait(lock, [&] { return generation != served; });
    if (stop) return;
    served = generation;
    const RangeFn fn = job;
    const uint64_t size = n;
    const int32_t partCount = parts;
    lock.unlock();
    if (index < partCount) {
      const Range range = partRange(size, partCount, index);
      if (range.begin < range.end) fn(range.begin, range.end);
    }
    lock.lock();
    if (--remaining == 0) cvDone.notify_all();
  }
}

thread_local bool g_inRegion = false;
thread_local std::unique_ptr<Pool> g_pool;

// Waits for every worker's report and retires the job, also when the caller's own part throws:
// the workers still hold the caller's callable until they report.
class RegionGuard {
 public:
  explicit RegionGuard(Pool& pool) : pool_(pool) { g_inRegion = true; }
  ~RegionGuard() {
    std::unique_lock<std::mutex> lock(pool_.mu);
    pool_.cvDone.wait(lock, [&] { return pool_.remaining == 0; });
    pool_.job = RangeFn{};
    g_inRegion = false;
  }
  RegionGuard(const RegionGuard&) = delete;
  RegionGuard& operator=(const RegionGuard&) = delete;

 private:
  Pool& pool_;
};

}  // namespace

int32_t threadsFrom(const char* coreValue, const char* pasteValue, unsigned hardware) {
  int32_t count = 4;
  if (!parseCount(coreValue, count)) parseCount(pasteValue, count);
  if (hardware > 0 && static_cast<uint64_t>(count) > hardware) count = static_cast<int32_t>(hardware);
  return count;
}

int32_t threads() {
  static const int32_t count = [] {
    const std::optional<std::string> core = envText("KO_CORE_THREADS");
    const std::optional<std::string> paste = envText("KO_PASTE_THREADS");
    return threadsFrom(core ? core->c_str() : nullptr, paste ? paste->c_str() : nullptr,
                       std::thread::hardware_concurrency());
  }();
  return count;
}

bool available() {
  return true;
}

int32_t partsFor(uint64_t n, uint64_t grain, int32_t threadCount) {
  if (threadCount < 2) return 1;
  const uint64_t q = n / std::max<uint64_t>(grain, 1);
  if (q <= 1) return 1;
  return static_cast<int32_t>(std::min<uint64_t>(q, static_cast<uint64_t>(threadCount)));
}

int32_t parts(uint64_t n, uint64_t grain) {
  return partsFor(n, grain, threads());
}

Range partRange(uint64_t n, int32_t partCount, int32_t k) {
  const uint64_t count = static_cast<uint64_t>(std::max(partCount, 1));
  if (k < 0 || static_cast<uint64_t>(k) >= count) return {n, n};
  // ceil(n / count) without the overflow of (n + count - 1) / count.
  const uint64_t chunk = n / count + (n % count != 0 ? 1 : 0);
  const uint64_t begin = std::min(n, static_cast<uint64_t>(k) * chunk);
  return {begin, begin + std::min(chunk, n - begin)};
}

void runRange(uint64_t n, uint64_t grain, RangeFn fn) {
  if (g_inRegion) {
    fn(0, n);
    return;
  }
  int32_t partCount = parts(n, grain);
  if (partCount < 2) {
    fn(0, n);
    return;
  }
  if (!g_pool) g_pool = std::make_unique<Pool>(threads());
  Pool& pool = *g_pool;
  partCount = std::min(partCount, pool.nthreads);
  if (partCount < 2) {
    fn(0, n);
    return;
  }

  {
    std::lock_guard<std::mutex> lock(pool.mu);
    pool.job = fn;
    pool.n = n;
    pool.parts = partCount;
    pool.remaining = static_cast<int32_t>(pool.workers.size());
    ++pool.generation;
  }
  pool.cvWork.notify_all();

  const RegionGuard region(pool);
  const Range first = partRange(n, partCount, 0);
  fn(first.begin, first.end);
}

}  // namespace ko::pool
