#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace vantisol::test {

// How many times slower the build runs than a plain one; the sanitizer builds set it.
#ifndef VANTISOL_TIME_SCALE
#define VANTISOL_TIME_SCALE 1
#endif
constexpr int kTimeScale = VANTISOL_TIME_SCALE;

// How long a test waits for something another thread or process should do at once.
constexpr std::chrono::seconds kWaitLimit{20 * kTimeScale};
// How long a test waits for a render thread's start, which builds its GL resources (slow on a
// busy machine and under the address sanitizer).
constexpr std::chrono::seconds kStartLimit{60 * kTimeScale};

// Ends the test program with a message when the scope it guards is not left in time. It covers
// what no bounded wait can reach: a join or a lock call that never returns, or the clean-up after
// a failed bounded wait.
class Watchdog {
 public:
  explicit Watchdog(std::string what, std::chrono::seconds limit = kWaitLimit)
      : thread_([this, what = std::move(what), limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!left_changed_.wait_for(lock, limit, [this] { return left_; })) {
            std::fprintf(stderr, "HANG: %s did not finish within %lld s\n", what.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      left_ = true;
    }
    left_changed_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable left_changed_;
  bool left_ = false;
  std::thread thread_;
};

// Runs `call`, which waits for another thread with no limit of its own, and ends the test program
// with a message naming `what` when it has not returned in time.
template <typename Call>
void Bounded(const std::string& what, Call&& call, std::chrono::seconds limit = kWaitLimit) {
  Watchdog watchdog(what, limit);
  call();
}

}  // namespace vantisol::test
