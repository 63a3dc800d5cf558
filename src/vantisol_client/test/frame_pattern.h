#pragma once

// The stand-in producer's frames: bytes 0-7 the frame counter, bytes 8-15 the producer's steady
// clock in nanoseconds when it handed the frame over, then a pattern that depends on the counter.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vantisol::test {

constexpr size_t kPatternStart = 16;

inline unsigned char PatternByte(size_t i, uint64_t counter) {
  return static_cast<unsigned char>((i * 7 + counter * 29 + (i >> 11)) & 0xFF);
}

inline uint64_t FrameCounter(const unsigned char* frame) {
  uint64_t counter = 0;
  std::memcpy(&counter, frame, sizeof(counter));
  return counter;
}

inline int64_t FrameTime(const unsigned char* frame) {
  int64_t time = 0;
  std::memcpy(&time, frame + 8, sizeof(time));
  return time;
}

// The offset of the first byte that differs from the producer's frame `counter`; `bytes` when
// none does.
inline size_t FirstPatternMismatch(const unsigned char* frame, size_t bytes) {
  if (bytes < kPatternStart) return 0;
  const uint64_t counter = FrameCounter(frame);
  for (size_t i = kPatternStart; i < bytes; ++i) {
    if (frame[i] != PatternByte(i, counter)) return i;
  }
  return bytes;
}

// The last picture of a producer killed at any moment: one of its frames or, when the kill came
// while it copied a frame in, a mix of that frame and the one before it (memcpy does not copy in
// address order: a large copy writes its first and last bytes at the end).
inline bool FromKilledProducer(const unsigned char* frame, size_t bytes) {
  const uint64_t counter = FrameCounter(frame);
  auto mix_of = [&](uint64_t older) {
    for (size_t i = kPatternStart; i < bytes; ++i) {
      if (frame[i] != PatternByte(i, older) && frame[i] != PatternByte(i, older + 1)) return false;
    }
    return true;
  };
  return bytes > kPatternStart && ((counter > 0 && mix_of(counter - 1)) || mix_of(counter));
}

}  // namespace vantisol::test
