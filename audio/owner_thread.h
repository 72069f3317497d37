// Where the shared speech encoder's loads and runs execute. With KO_A2X_CUDA=1 every one of them
// runs on a single owner thread, because a GPU execution provider wants all its work on one thread;
// otherwise on the caller's thread.
#pragma once

#include <memory>
#include <type_traits>

namespace ko {

// A borrowed callable with no arguments, valid for one call.
struct OwnerJob {
  void* context = nullptr;
  void (*run)(void* context) = nullptr;
};

// Runs the job to completion and rethrows on the calling thread whatever it threw. Without
// KO_A2X_CUDA set to exactly "1" it runs inline; on the owner thread itself it runs inline too, so a
// job that calls back in cannot deadlock. Owner-thread jobs run one at a time.
void runOwnerJob(OwnerJob job);

// True on the owner thread.
bool onOwnerThread();

template <class Fn>
void ko_a2x_on_owner_thread(Fn&& fn) {
  using Callable = std::remove_reference_t<Fn>;
  OwnerJob job;
  job.context = const_cast<void*>(static_cast<const void*>(std::addressof(fn)));
  job.run = [](void* context) { (*static_cast<Callable*>(context))(); };
  runOwnerJob(job);
}

// Whether KO_A2X_CUDA asks for the GPU (the value exactly "1").
bool cudaRequested();

}  // namespace ko
