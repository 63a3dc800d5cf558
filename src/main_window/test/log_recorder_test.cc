// The log recorder while another thread keeps logging, as the render thread does during the
// window's tests: recorders come and go, and each sees only the lines of its own lifetime.

#include <easylogging++.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "http_test_server/http_test_server.h"
#include "program_test_support.h"
#include "watchdog.h"

namespace vantisol {
namespace {

TEST(LogRecorderTest, RecordersComeAndGoWhileAnotherThreadLogs) {
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    while (!stop) {
      LOG(INFO) << "from the writer";
      ++written;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const int limit_ms = int(test::kWaitLimit.count()) * 1000;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    test::LogRecorder log;
    const int before = written;
    ASSERT_TRUE(test::WaitFor([&] { return written > before + 2; }, limit_ms))
        << "the writer thread's next lines";
    EXPECT_GE(log.Count("from the writer"), 1);
  }

  LOG(INFO) << "before the recorder";
  {
    test::LogRecorder log;
    LOG(WARNING) << "while it lives";
    EXPECT_FALSE(log.Contains("before the recorder"));
    EXPECT_EQ(log.Count("WARNING while it lives"), 1);
    {
      test::LogRecorder inner;
      LOG(INFO) << "inside both";
      EXPECT_FALSE(inner.Contains("while it lives"));
      EXPECT_EQ(inner.Count("INFO inside both"), 1);
    }
    LOG(INFO) << "after the inner one";
    for (const char* line : {"while it lives", "inside both", "after the inner one"}) {
      EXPECT_EQ(log.Count(line), 1) << line;
    }
  }
  stop = true;
  test::Bounded("the writer thread's end", [&] { writer.join(); });
}

}  // namespace
}  // namespace vantisol
