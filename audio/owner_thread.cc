#include "audio/owner_thread.h"
#include "pool/pool.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

namespace ko {
namespace {

thread_local bool t_ko_a2x_on_owner = false;

// Lives for the whole process: its thread is detached and may still be waiting when static
// destructors run, so nothing here is ever destroyed.
struct Owner {
  std::mutex mutex;
  std::condition_variable wake;
  const OwnerJob* job = nullptr;
  bool done = false;

  Owner() {
    std::thread([this] { serve(); }).detach();
  }

  [[noreturn]] void serve() {
    t_ko_a2x_on_owner = true;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return job != nullptr; });
      const OwnerJob current = *job;
      lock.unlock();
      current.run(current.context);
      lock.lock();
      job = nullptr;
      done = true;
      wake.notify_all();
    }
  }
};

Owner& owner() {
  static Owner* const instance = new Owner();
  return *instance;
}

}  // namespace

bool cudaRequested() {
  return envEquals("KO_A2X_CUDA", "1");
}

bool onOwnerThread() {
  return t_ko_a2x_on_owner;
}

void runOwnerJob(OwnerJob job) {
  if (!cudaRequested() || t_ko_a2x_on_owner) {
    job.run(job.context);
    return;
  }
  static std::mutex one_at_a_time;
  std::exception_ptr failure;
  struct Captured {
    OwnerJob inner;
    std::exception_ptr* failure;
  } captured{job, &failure};
  const OwnerJob wrapper{&captured, [](void* context) {
                           auto* self = static_cast<Captured*>(context);
                           try {
                             self->inner.run(self->inner.context);
                           } catch (...) {
                             *self->failure = std::current_exception();
                           }
                         }};
  {
    std::lock_guard<std::mutex> serial(one_at_a_time);
    Owner& self = owner();
    std::unique_lock<std::mutex> lock(self.mutex);
    self.done = false;
    self.job = &wrapper;
    self.wake.notify_all();
    self.wake.wait(lock, [&self] { return self.done; });
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace ko
