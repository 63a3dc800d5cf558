#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace pxcsim {

// Threads that stay for the owner's lifetime and share out the chunks of one loop at a time; the
// calling thread works too. Sleeping workers block rather than spin, which keeps a busy machine's
// other work going. Threads start with the first loop and are joined by the destructor.
class WorkerPool {
 public:
  // threads: how many work on a loop, the caller included.
  explicit WorkerPool(int threads = int(std::max(1u, std::thread::hardware_concurrency())));
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // body(begin, end) over [0, count) in chunks of chunk (by default: rows of an image or pixels,
  // either way enough work per grab); returns when all are done. A loop started inside another,
  // or while another thread's loop runs, still runs whole.
  template <typename Body>
  void For(int64_t count, Body&& body) {
    For(count, count > 100000 ? 4096 : 8, std::forward<Body>(body));
  }
  template <typename Body>
  void For(int64_t count, int64_t chunk, Body&& body) {
    Run(
        count, std::max<int64_t>(1, chunk),
        [](void* b, int64_t begin, int64_t end) {
          (*static_cast<std::remove_reference_t<Body>*>(b))(begin, end);
        },
        &body);
  }

 private:
  using Call = void (*)(void* body, int64_t begin, int64_t end);
  struct Loop {
    int64_t count = 0, chunk = 1;
    Call call = nullptr;
    void* body = nullptr;
  };

  void Run(int64_t count, int64_t chunk, Call call, void* body);
  void Drain(const Loop& loop);
  void Work();

  const int threads_;
  std::mutex run_;  // one loop at a time
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  Loop loop_;  // call null between loops
  uint64_t generation_ = 0;
  int busy_ = 0;  // workers inside the current loop
  bool stop_ = false;
  std::atomic<int64_t> next_{0};
  std::vector<std::thread> workers_;
};

}  // namespace pxcsim
