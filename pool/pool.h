// The pool subsystem's door: the library's one fork-join facility. A call splits [0, n) into at
// most threads() contiguous parts of equal size (the last one shorter), runs them at once and
// returns when every part is done.
//
// Threading model: each thread that calls parallelRange gets its own pool, built on its first
// parallel call and joined when that thread exits. Callers on different threads therefore never
// queue behind each other. The calling thread always runs part 0 itself; part i (i >= 1) runs on
// worker i of the caller's pool. A call made from inside a part that runs on the calling thread
// runs inline; a call made from a part that runs on a worker uses that worker's own pool.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "pool/env.h"  // IWYU pragma: export

namespace ko::pool {

// The worker count every pool is built with, read once per process on first use (thread-safe).
// KO_CORE_THREADS wins when set and non-empty, else KO_PASTE_THREADS, else 4; the result is then
// capped at the processor count when the system reports one. See threadsFrom for the parsing.
int32_t threads();

// The rule behind threads(), pure so it can be checked without touching the environment.
// coreValue and pasteValue are the texts of KO_CORE_THREADS and KO_PASTE_THREADS (null when
// unset); hardware is std::thread::hardware_concurrency() (0 when unknown, meaning no cap).
// A value is a decimal integer, optionally signed, optionally surrounded by blanks. Values below 1
// become 1; values too large for int32_t saturate (and are then capped by hardware). Text that is
// not such an integer ("abc", "3x", "") counts as unset, so the next source decides: a typo never
// stops the library, it only loses the override. Always returns at least 1.
int32_t threadsFrom(const char* coreValue, const char* pasteValue, unsigned hardware);

// Whether the pool can run parts in parallel in this build. Always true.
bool available();

// How many parts parallelRange(n, grain, ...) uses: 1 when threads() < 2; else n / max(grain, 1)
// rounded down, 1 when that is at most 1, otherwise that number capped at threads(). grain is the
// smallest amount of work worth a part of its own; 0 counts as 1. Thread-safe.
int32_t parts(uint64_t n, uint64_t grain);

// parts() for a given thread count instead of threads(). Pure.
int32_t partsFor(uint64_t n, uint64_t grain, int32_t threadCount);

// One part's bounds: [begin, end).
struct Range {
  uint64_t begin = 0;
  uint64_t end = 0;
  friend bool operator==(const Range&, const Range&) = default;
};

// The bounds of part k (0 <= k < partCount) when [0, n) is split into partCount parts: every part
// has ceil(n / partCount) items except the last non-empty one, and trailing parts may be empty
// (begin == end == n), as is any k outside [0, partCount). Pure; never overflows, whatever n.
Range partRange(uint64_t n, int32_t partCount, int32_t k);

// A non-owning reference to the caller's callable: a context pointer and a function that calls it.
// It lives only for the duration of one parallelRange call, so nothing is allocated per call.
struct RangeFn {
  void* context = nullptr;
  void (*call)(void* context, uint64_t begin, uint64_t end) = nullptr;
  void operator()(uint64_t begin, uint64_t end) const { call(context, begin, end); }
};

// The non-template body of parallelRange; use parallelRange instead.
void runRange(uint64_t n, uint64_t grain, RangeFn fn);

// Calls fn(begin, end) for each part of [0, n) as split by parts(n, grain) and partRange, and
// returns once every part has returned. Empty parts are skipped, except that n == 0 gives one call
// fn(0, 0). With one part (or threads() == 1) fn(0, n) runs inline on the calling thread and no
// worker is ever started.
//
// Threads: part 0 runs on the calling thread, part i on worker i of the calling thread's pool,
// which is built on this thread's first call with more than one part (threads() - 1 workers) and
// joined when this thread exits. fn is called concurrently from several threads, so it must be
// safe to call that way; fn is borrowed, never copied. Everything fn did in any part happens-before
// parallelRange returns. A nested call from the part running on the calling thread runs inline as
// one call over its whole range; a nested call from a worker's part splits over that worker's own
// pool. After the pool exists a call allocates nothing: one lock, one broadcast, one wait.
//
// Exceptions: fn must not throw. If it throws in part 0 (on the calling thread), parallelRange
// still waits for every worker's part before rethrowing, so no worker can touch a dead callable.
// If it throws on a worker, std::terminate is called: a worker is a thread entry with nowhere to
// send the exception.
//
// Resources: if the system refuses to start some workers, the pool keeps the ones it did start and
// calls use fewer parts (inline when none started); building the pool may throw std::bad_alloc.
template <class Fn>
void parallelRange(uint64_t n, uint64_t grain, Fn&& fn) {
  using Callable = std::remove_reference_t<Fn>;
  RangeFn ref;
  ref.context = const_cast<void*>(static_cast<const void*>(std::addressof(fn)));
  ref.call = [](void* context, uint64_t begin, uint64_t end) {
    (*static_cast<Callable*>(context))(begin, end);
  };
  runRange(n, grain, ref);
}

}  // namespace ko::pool
