#include "opengl/locked_texture.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "gl_test.h"
#include "opengl_qt/opengl_context.h"
#include "watchdog.h"

namespace vantisol {
namespace {

Image Pattern(uint8_t seed) {
  Image image(Size{16, 8}, Image::Format::kRGB);
  for (int i = 0; i < 16 * 8 * 3; ++i) image.data.get()[i] = uint8_t(i + seed);
  return image;
}

TEST(LockedTextureTest, LoansInARowInOneContext) {
  test::LogCapture log;
  LockedTexture locked(Image::Format::kRGB);
  { locked.Lock()->Assign(Pattern(1)); }
  {
    auto loan = locked.Lock();
    const Image image = loan->Download();
    EXPECT_EQ(std::memcmp(image.data.get(), Pattern(1).data.get(), 16 * 8 * 3), 0);
  }
  EXPECT_EQ(log.CountPrefix("WARNING Sync was not successful: "), 0);
}

TEST(LockedTextureTest, ReaderInASharedContextWaitsForTheWriter) {
  // A reader that never gets the texture would hang the join below.
  test::Watchdog watchdog("a reader waiting for the writer's loan");
  LockedTexture locked(Image::Format::kRGB);
  OpenGLContext reader_context(false);
  reader_context.SetSharedContext();

  std::mutex mutex;
  std::condition_variable changed;
  bool reader_locking = false;
  std::atomic<bool> reader_has_loan{false};
  Image seen;

  auto loan = locked.Lock();
  std::thread reader([&] {
    reader_context.CreateContext();
    reader_context.SetContext();
    {
      std::lock_guard<std::mutex> lock(mutex);
      reader_locking = true;
    }
    changed.notify_all();
    auto reader_loan = locked.Lock();
    reader_has_loan = true;
    seen = reader_loan->Download();
    reader_loan.reset();
    test::ReleaseCurrentContext();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, test::kWaitLimit, [&] { return reader_locking; }))
        << "the reader thread did not start";
  }
  // The reader is in (or about to enter) Lock; it cannot get the texture while the loan is out.
  loan->Assign(Pattern(5));
  EXPECT_FALSE(reader_has_loan);
  loan.reset();
  reader.join();
  EXPECT_TRUE(reader_has_loan);
  ASSERT_EQ(seen.size, (Size{16, 8}));
  EXPECT_EQ(std::memcmp(seen.data.get(), Pattern(5).data.get(), 16 * 8 * 3), 0);
}

}  // namespace
}  // namespace vantisol
