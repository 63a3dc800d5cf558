#include "utils/shared_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "watchdog.h"

namespace vantisol {
namespace {

std::shared_ptr<const ImageData> MakeFrame(int64_t stamp) {
  const CameraImage image(Image(), Calibration{}, stamp);
  return std::make_shared<const ImageData>(image, image, image, image, std::map<int, FaceData>{},
                                           LatencyCalculator());
}

// Every test ends within the wait limit, even when a blocked call never returns and the future's
// destructor would wait for it.
class SharedQueueTest : public testing::Test {
  test::Watchdog watchdog_{"a shared-queue test"};
};

// True when the call returned within the wait limit.
template <typename T>
bool Returns(std::future<T>& future) {
  return future.wait_for(test::kWaitLimit) == std::future_status::ready;
}

// True when the future is still blocked after a while; a blocked call cannot be awaited on a
// condition, so a short grace period stands in for "never returns".
template <typename T>
bool StaysBlocked(std::future<T>& future) {
  return future.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout;
}

TEST_F(SharedQueueTest, FramesPassInOrderBetweenThreads) {
  SharedQueue queue;
  constexpr int kFrames = 200;
  std::thread producer([&] {
    for (int i = 0; i < kFrames; ++i) queue.Push(MakeFrame(i));
  });
  for (int i = 0; i < kFrames; ++i) {
    std::shared_ptr<const ImageData> frame;
    ASSERT_TRUE(queue.Pop(frame));
    ASSERT_EQ(frame->color.time_stamp, i);  // nothing dropped, nothing reordered
  }
  producer.join();
}

TEST_F(SharedQueueTest, SecondPushWaitsForThePop) {
  SharedQueue queue;
  queue.Push(MakeFrame(1));
  auto second = std::async(std::launch::async, [&] { queue.Push(MakeFrame(2)); });
  EXPECT_TRUE(StaysBlocked(second));

  std::shared_ptr<const ImageData> frame;
  ASSERT_TRUE(queue.Pop(frame));
  EXPECT_EQ(frame->color.time_stamp, 1);
  ASSERT_TRUE(Returns(second)) << "the second push stayed blocked after the pop";
  ASSERT_TRUE(queue.Pop(frame));
  EXPECT_EQ(frame->color.time_stamp, 2);
}

TEST_F(SharedQueueTest, FinishReleasesAWaitingConsumer) {
  SharedQueue queue;
  auto pop = std::async(std::launch::async, [&] {
    std::shared_ptr<const ImageData> frame;
    return queue.Pop(frame);
  });
  EXPECT_TRUE(StaysBlocked(pop));
  queue.SetFinish();
  ASSERT_TRUE(Returns(pop)) << "the pop stayed blocked after SetFinish";
  EXPECT_FALSE(pop.get());
}

TEST_F(SharedQueueTest, FinishReleasesABlockedProducerWhichDropsItsFrame) {
  SharedQueue queue;
  queue.Push(MakeFrame(1));
  auto dropped = MakeFrame(2);
  std::weak_ptr<const ImageData> watch = dropped;
  auto push = std::async(std::launch::async, [&] { queue.Push(std::move(dropped)); });
  EXPECT_TRUE(StaysBlocked(push));
  queue.SetFinish();
  ASSERT_TRUE(Returns(push)) << "the push stayed blocked after SetFinish";
  EXPECT_TRUE(watch.expired());
}

TEST_F(SharedQueueTest, FinishedQueueRefusesEvenAWaitingFrame) {
  auto queue = std::make_unique<SharedQueue>();
  auto frame = MakeFrame(1);
  std::weak_ptr<const ImageData> watch = frame;
  queue->Push(std::move(frame));
  queue->SetFinish();
  std::shared_ptr<const ImageData> out;
  EXPECT_FALSE(queue->Pop(out));
  EXPECT_EQ(out, nullptr);
  queue->Push(MakeFrame(2));  // returns at once
  EXPECT_FALSE(watch.expired());
  queue.reset();
  EXPECT_TRUE(watch.expired());  // the destructor releases the frame left in the slot
}

}  // namespace
}  // namespace vantisol
