#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vantisol {

// First come, first served: callers are let in strictly in the order they asked. A thread that
// releases and at once asks again queues behind everyone already waiting, so a busy loop cannot
// starve other callers. `lock` and `unlock` make it usable with the standard lock guards.
class TicketLock {
 public:
  void Take();
  void Release();
  // Takes the lock only when nobody holds it or waits for it.
  bool TryTake();
  void lock() { Take(); }
  bool try_lock() { return TryTake(); }
  void unlock() { Release(); }
  uint32_t tickets_issued();

 private:
  std::condition_variable condition_;
  std::mutex mutex_;
  uint32_t next_ticket_ = 0;
  uint32_t serving_ = 0;
};

}  // namespace vantisol
