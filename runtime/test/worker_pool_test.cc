#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace pxcsim {
namespace {

// Every index of [0, count) visited exactly once, whatever the chunk size and pool width.
TEST(WorkerPoolTest, EveryIndexRunsOnce) {
  const struct {
    int threads;
    int64_t count, chunk;
  } cases[] = {{8, 0, 8},    {8, 1, 8},         {8, 7, 8},  {8, 1000, 8},
               {8, 1000, 1}, {8, 300001, 4096}, {3, 97, 5}, {1, 50, 8}};
  for (const auto& c : cases) {
    WorkerPool pool(c.threads);
    std::vector<std::atomic<int>> visits(size_t(c.count));
    for (int round = 0; round < 3; ++round)
      pool.For(c.count, c.chunk, [&](int64_t begin, int64_t end) {
        EXPECT_LE(end - begin, c.chunk);
        for (int64_t i = begin; i < end; ++i) visits[size_t(i)]++;
      });
    for (int64_t i = 0; i < c.count; ++i)
      ASSERT_EQ(visits[size_t(i)], 3)
          << c.threads << " threads, " << c.count << " in chunks of " << c.chunk << ": index " << i;
  }
}

// A loop inside a loop, and loops of two threads at once, all finish whole.
TEST(WorkerPoolTest, NestedAndConcurrentLoopsFinish) {
  WorkerPool pool(4);
  std::atomic<int64_t> sum{0};
  pool.For(64, 1, [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i)
      pool.For(100, [&](int64_t b, int64_t e) { sum += e - b; });
  });
  EXPECT_EQ(sum, 6400);

  std::atomic<int64_t> totals[2] = {{0}, {0}};
  auto caller = [&](int k) {
    for (int round = 0; round < 200; ++round)
      pool.For(1000, [&](int64_t b, int64_t e) { totals[k] += e - b; });
  };
  std::thread other(caller, 1);
  caller(0);
  other.join();
  EXPECT_EQ(totals[0], 200000);
  EXPECT_EQ(totals[1], 200000);
}

// The work is shared, among no more threads than the pool's width.
TEST(WorkerPoolTest, WorkersTakeChunksOfTheCallersLoop) {
  WorkerPool pool(4);
  const auto caller = std::this_thread::get_id();
  std::mutex mutex;
  std::set<std::thread::id> threads;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto helped = [&] { return threads.size() > 1 || threads.count(caller) == 0; };
  pool.For(64, 1, [&](int64_t, int64_t) {
    const auto self = std::this_thread::get_id();
    {
      std::lock_guard<std::mutex> lock(mutex);
      threads.insert(self);
    }
    if (self != caller) return;
    // The caller holds its chunks until a worker has taken one, for 10 s at most in all.
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (helped() || std::chrono::steady_clock::now() > deadline) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_TRUE(helped()) << "no worker took a chunk within 10 s";
  EXPECT_LE(threads.size(), 4u);
}

}  // namespace
}  // namespace pxcsim
