#include "pool/pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ko::pool {
namespace {

using namespace std::chrono_literals;

// Only there to turn a deadlock into a failure; never reached when the pool is sound.
constexpr auto kDeadlockTimeout = 20s;

struct Part {
  Range range;
  std::thread::id thread;
};

// Every part one parallelRange call ran, in range order.
std::vector<Part> runAndRecord(uint64_t n, uint64_t grain) {
  std::mutex mu;
  std::vector<Part> seen;
  parallelRange(n, grain, [&](uint64_t begin, uint64_t end) {
    const std::lock_guard<std::mutex> lock(mu);
    seen.push_back({{begin, end}, std::this_thread::get_id()});
  });
  std::sort(seen.begin(), seen.end(),
            [](const Part& a, const Part& b) { return a.range.begin < b.range.begin; });
  return seen;
}

// The non-empty parts partRange gives, or the single (0, 0) call an empty range gets.
std::vector<Range> expectedParts(uint64_t n, int32_t partCount) {
  std::vector<Range> ranges;
  for (int32_t k = 0; k < partCount; ++k) {
    const Range range = partRange(n, partCount, k);
    if (range.begin < range.end) ranges.push_back(range);
  }
  if (ranges.empty()) ranges.push_back({0, 0});
  return ranges;
}

size_t processThreadCount() {
  const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<size_t>(std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks)));
}

TEST(PoolPartitionsRange, SplitsByGrainIntoEqualContiguousChunks) {
  EXPECT_EQ(partsFor(10, 1, 4), 4);
  EXPECT_EQ(expectedParts(10, 4), (std::vector<Range>{{0, 3}, {3, 6}, {6, 9}, {9, 10}}));
  EXPECT_EQ(partsFor(9, 4, 4), 2);
  EXPECT_EQ(expectedParts(9, 2), (std::vector<Range>{{0, 5}, {5, 9}}));
  EXPECT_EQ(partsFor(0, 1, 4), 1);
  EXPECT_EQ(partsFor(7, 4, 4), 1);  // one grain's worth is not worth splitting
  EXPECT_EQ(partsFor(3, 0, 4), partsFor(3, 1, 4));
  EXPECT_EQ(partsFor(3, 0, 4), 3);
  EXPECT_EQ(partsFor(1000000, 1, 4), 4);
  EXPECT_EQ(partsFor(std::numeric_limits<uint64_t>::max(), 1, 4), 4);
}

TEST(PoolPartitionsRange, PartsTileEveryRangeWithoutGapsOrOverlap) {
  std::vector<uint64_t> sizes;
  for (uint64_t n = 0; n <= 40; ++n) sizes.push_back(n);
  sizes.push_back(std::numeric_limits<uint64_t>::max());
  for (const uint64_t n : sizes) {
    for (int32_t partCount = 1; partCount <= 7; ++partCount) {
      uint64_t next = 0;
      for (int32_t k = 0; k < partCount; ++k) {
        const Range range = partRange(n, partCount, k);
        ASSERT_EQ(range.begin, next) << "n=" << n << " parts=" << partCount << " k=" << k;
        ASSERT_LE(range.begin, range.end);
        // Only the last non-empty part may be shorter than its predecessors.
        if (range.end < n) {
          ASSERT_EQ(range.end - range.begin, partRange(n, partCount, 0).end);
        }
        next = range.end;
      }
      ASSERT_EQ(next, n) << "n=" << n << " parts=" << partCount;
    }
  }
}

TEST(PoolPartitionsRange, EmptyRangeRunsOnceWithZeroBounds) {
  const std::vector<Part> seen = runAndRecord(0, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].range, (Range{0, 0}));
  EXPECT_EQ(seen[0].thread, std::this_thread::get_id());
}

TEST(PoolRunsInlineWithOneThread, EveryCallIsOnePart) {
  EXPECT_EQ(threadsFrom("1", "8", 16), 1);
  for (const uint64_t n : {0ull, 1ull, 2ull, 1000ull, ~0ull}) {
    for (const uint64_t grain : {0ull, 1ull, 64ull}) {
      EXPECT_EQ(partsFor(n, grain, 1), 1) << n << "/" << grain;
      EXPECT_EQ(partsFor(n, grain, 0), 1) << n << "/" << grain;
    }
  }
  EXPECT_TRUE(available());
}

TEST(PoolReadsThreadCount, CoreWinsThenPasteThenFourCappedByHardware) {
  EXPECT_EQ(threadsFrom("3", "2", 8), 3);
  EXPECT_EQ(threadsFrom(nullptr, "2", 8), 2);
  EXPECT_EQ(threadsFrom("", "2", 8), 2);
  EXPECT_EQ(threadsFrom("", "", 8), 4);
  EXPECT_EQ(threadsFrom(nullptr, nullptr, 8), 4);
  EXPECT_EQ(threadsFrom(nullptr, nullptr, 2), 2);
  EXPECT_EQ(threadsFrom(nullptr, nullptr, 0), 4);
  EXPECT_EQ(threadsFrom("0", "6", 8), 1);
  EXPECT_EQ(threadsFrom("-5", nullptr, 8), 1);
  EXPECT_EQ(threadsFrom(nullptr, "0", 8), 1);
  EXPECT_EQ(threadsFrom("64", nullptr, 8), 8);
  EXPECT_EQ(threadsFrom("64", nullptr, 0), 64);
}

TEST(PoolReadsThreadCount, GarbageCountsAsUnsetAndHugeValuesSaturate) {
  EXPECT_EQ(threadsFrom("abc", "3", 8), 3);
  EXPECT_EQ(threadsFrom("3x", nullptr, 8), 4);
  EXPECT_EQ(threadsFrom("-", " ", 8), 4);
  EXPECT_EQ(threadsFrom(" 6\n", nullptr, 8), 6);
  EXPECT_EQ(threadsFrom("+2", nullptr, 8), 2);
  EXPECT_EQ(threadsFrom("99999999999999999999", nullptr, 8), 8);
  EXPECT_EQ(threadsFrom("99999999999999999999", nullptr, 0), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(threadsFrom("-99999999999999999999", "5", 8), 1);
  EXPECT_GE(threads(), 1);
}

TEST(PoolTilesRangeAcrossThreads, MatchesPartitionWithPartZeroOnCaller) {
  if (threads() < 2) GTEST_SKIP() << "one thread: every call runs inline";
  const uint64_t t = static_cast<uint64_t>(threads());
  for (const auto& [n, grain] : std::vector<std::pair<uint64_t, uint64_t>>{
           {10, 1}, {9, 4}, {1000, 7}, {t, 1}, {2 * t + 1, 1}, {5, 5}, {100, 0}}) {
    const std::vector<Part> seen = runAndRecord(n, grain);
    std::vector<Range> ranges;
    std::set<std::thread::id> threadsSeen;
    for (const Part& part : seen) {
      ranges.push_back(part.range);
      threadsSeen.insert(part.thread);
    }
    EXPECT_EQ(ranges, expectedParts(n, parts(n, grain))) << "n=" << n << " grain=" << grain;
    EXPECT_EQ(seen.front().thread, std::this_thread::get_id());
    EXPECT_EQ(threadsSeen.size(), seen.size()) << "each part runs on its own thread";
  }
}

TEST(PoolTilesRangeAcrossThreads, RepeatedCallsLoseNoPart) {
  constexpr uint64_t n = 1000;
  for (int call = 0; call < 300; ++call) {
    std::atomic<uint64_t> sum{0};
    parallelRange(n, 1, [&](uint64_t begin, uint64_t end) {
      for (uint64_t i = begin; i < end; ++i) sum.fetch_add(i, std::memory_order_relaxed);
    });
    ASSERT_EQ(sum.load(), n * (n - 1) / 2) << "call " << call;
  }
}

TEST(PoolRunsNestedCalls, InlineFromTheCallersPart) {
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<Part> inner;
  parallelRange(64, 1, [&](uint64_t begin, uint64_t) {
    if (begin == 0) inner = runAndRecord(50, 1);
  });
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner[0].range, (Range{0, 50}));
  EXPECT_EQ(inner[0].thread, caller);
}

TEST(PoolRunsNestedCalls, CompletelyFromWorkerParts) {
  if (threads() < 2) GTEST_SKIP() << "one thread: no worker parts";
  const int32_t outerParts = threads();
  std::vector<std::vector<Part>> inner(static_cast<size_t>(outerParts));
  parallelRange(static_cast<uint64_t>(outerParts), 1, [&](uint64_t begin, uint64_t) {
    if (begin > 0) inner[begin] = runAndRecord(37, 1);
  });
  for (size_t k = 1; k < inner.size(); ++k) {
    std::vector<Range> ranges;
    for (const Part& part : inner[k]) ranges.push_back(part.range);
    EXPECT_EQ(ranges, expectedParts(37, parts(37, 1))) << "outer part " << k;
  }
}

TEST(PoolKeepsCallersApart, OneCallerNeverWaitsForAnother) {
  if (threads() < 2) GTEST_SKIP() << "one thread: no pools to share";
  const uint64_t n = static_cast<uint64_t>(threads());
  std::mutex mu;
  std::condition_variable changed;
  bool aInside = false;
  bool bReturned = false;
  bool aSawB = false;
  std::thread a([&] {
    parallelRange(n, 1, [&](uint64_t begin, uint64_t) {
      if (begin != 0) return;
      std::unique_lock<std::mutex> lock(mu);
      aInside = true;
      changed.notify_all();
      aSawB = changed.wait_for(lock, kDeadlockTimeout, [&] { return bReturned; });
    });
  });
  std::thread b([&] {
    {
      std::unique_lock<std::mutex> lock(mu);
      changed.wait_for(lock, kDeadlockTimeout, [&] { return aInside; });
    }
    parallelRange(n, 1, [](uint64_t, uint64_t) {});
    const std::lock_guard<std::mutex> lock(mu);
    bReturned = true;
    changed.notify_all();
  });
  a.join();
  b.join();
  EXPECT_TRUE(aSawB) << "B's call waited for A's call to finish";
}

TEST(PoolJoinsWorkersAtThreadExit, ThreadCountReturnsToBefore) {
  if (threads() < 2) GTEST_SKIP() << "one thread: no workers to join";
  std::thread([] {}).join();  // sanitizer runtimes may start a helper thread on first use
  const size_t before = processThreadCount();
  size_t during = 0;
  std::thread caller([&] {
    parallelRange(static_cast<uint64_t>(threads()), 1, [](uint64_t, uint64_t) {});
    during = processThreadCount();
  });
  caller.join();
  EXPECT_EQ(during, before + static_cast<size_t>(threads())) << "the caller plus threads() - 1 workers";
  const auto deadline = std::chrono::steady_clock::now() + kDeadlockTimeout;
  while (processThreadCount() != before && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(processThreadCount(), before);
}

TEST(PoolPropagatesCallerPartFailure, AfterEveryWorkerPartReturned) {
  if (threads() < 2) GTEST_SKIP() << "one thread: no worker parts";
  const uint64_t n = static_cast<uint64_t>(threads());
  std::atomic<bool> thrown{false};
  std::atomic<int32_t> workerPartsDone{0};
  EXPECT_THROW(parallelRange(n, 1,
                             [&](uint64_t begin, uint64_t) {
                               if (begin == 0) {
                                 thrown = true;
                                 throw std::runtime_error("part 0 failed");
                               }
                               while (!thrown) std::this_thread::yield();
                               workerPartsDone.fetch_add(1);
                             }),
               std::runtime_error);
  EXPECT_EQ(workerPartsDone.load(), threads() - 1);
  // The region is left behind: the next call splits again instead of running inline.
  const std::vector<Part> seen = runAndRecord(n, 1);
  EXPECT_EQ(seen.size(), static_cast<size_t>(threads()));
  EXPECT_NE(seen.back().thread, std::this_thread::get_id());
}

}  // namespace
}  // namespace ko::pool
