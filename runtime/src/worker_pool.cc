#include "worker_pool.h"

namespace pxcsim {
namespace {

// Set while a thread runs a loop's chunks: a loop inside one runs on that thread alone. Kept in the
// threads' static block (this library is loaded late), so no thread allocates it on first use.
__attribute__((tls_model("initial-exec"))) thread_local bool in_loop = false;

class InLoop {
 public:
  InLoop() { in_loop = true; }
  ~InLoop() { in_loop = false; }
};

}  // namespace

WorkerPool::WorkerPool(int threads) : threads_(std::max(1, threads)) {}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

void WorkerPool::Drain(const Loop& loop) {
  InLoop guard;
  for (int64_t begin; (begin = next_.fetch_add(loop.chunk)) < loop.count;)
    loop.call(loop.body, begin, std::min(loop.count, begin + loop.chunk));
}

void WorkerPool::Run(int64_t count, int64_t chunk, Call call, void* body) {
  if (count <= 0) return;
  if (in_loop || threads_ == 1 || count <= chunk) {
    for (int64_t begin = 0; begin < count; begin += chunk)
      call(body, begin, std::min(count, begin + chunk));
    return;
  }
  std::lock_guard<std::mutex> running(run_);
  const Loop loop{count, chunk, call, body};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (int(workers_.size()) + 1 < threads_) workers_.emplace_back([this] { Work(); });
    loop_ = loop;
    next_.store(0);
    ++generation_;
  }
  wake_.notify_all();
  Drain(loop);
  // Every chunk is taken; wait for the workers still in one, and let none join late.
  std::unique_lock<std::mutex> lock(mutex_);
  loop_.call = nullptr;
  idle_.wait(lock, [this] { return busy_ == 0; });
}

void WorkerPool::Work() {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || (loop_.call && generation_ != seen); });
    if (stop_) return;
    seen = generation_;
    const Loop loop = loop_;
    ++busy_;
    lock.unlock();
    Drain(loop);
    lock.lock();
    if (--busy_ == 0) idle_.notify_one();
  }
}

}  // namespace pxcsim
