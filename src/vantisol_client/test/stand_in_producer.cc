// A stand-in for the program on the frame channel's server side, for the tests of the frame
// client and the virtual camera: it registers as server, and while a client is registered writes
// a frame of the client's size 30 times a second (see frame_pattern.h). Each start appends its
// process id to "vantisol_started.txt" beside the executable. It ends after 5 s without a client.
// It takes no arguments (the client starts it with none); a test may hold back its registration
// with the environment variable VANTISOL_STAND_IN_DELAY_MS, which the client passes on, and its
// first frame at each new size, as the program restarting its camera does, with
// VANTISOL_STAND_IN_SWITCH_MS.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "frame_pattern.h"
#include "utils/logging.h"
#include "utils/path.h"
#include "utils/process.h"
#include "utils/shared_memory_image.h"

namespace {

using Clock = std::chrono::steady_clock;

long ProcessId() {
#if defined(_WIN32)
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

void NoteStart() {
  const vantisol::path note = vantisol::path(vantisol::utils::ModuleFilePath()).parent_path() /
                              vantisol::path("vantisol_started.txt");
#if defined(_WIN32)
  FILE* file = _wfopen(note.wstr().c_str(), L"a");
#else
  FILE* file = std::fopen(note.str().c_str(), "a");
#endif
  if (file != nullptr) {
    std::fprintf(file, "%ld\n", ProcessId());
    std::fclose(file);
  }
}

void Fill(std::vector<unsigned char>* frame, uint64_t counter) {
  for (size_t i = vantisol::test::kPatternStart; i < frame->size(); ++i) {
    (*frame)[i] = vantisol::test::PatternByte(i, counter);
  }
  std::memcpy(frame->data(), &counter, sizeof(counter));
}

}  // namespace

int main() {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  NoteStart();
  if (const char* delay = std::getenv("VANTISOL_STAND_IN_DELAY_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
  }
  const char* switch_ms = std::getenv("VANTISOL_STAND_IN_SWITCH_MS");
  const auto size_switch = std::chrono::milliseconds(switch_ms ? std::atoi(switch_ms) : 0);
  try {
    vantisol::SharedMemoryImage channel(false);
    std::vector<unsigned char> frame;
    uint64_t counter = 0;
    Clock::time_point next = Clock::now();
    Clock::time_point last_client = next;
    while (Clock::now() - last_client < std::chrono::seconds(5)) {
      next += std::chrono::microseconds(33333);
      std::this_thread::sleep_until(next);
      unsigned bytes = 0;
      {
        auto image = channel.Lock();
        if (image.client_registered()) bytes = image.Bytes();
      }
      if (bytes < vantisol::test::kPatternStart) continue;
      last_client = Clock::now();
      if (frame.size() != bytes) {
        if (!frame.empty()) {
          std::this_thread::sleep_for(size_switch);
          next = Clock::now();
        }
        frame.assign(bytes, 0);
      }
      // The frame is drawn outside the lock, as the program's writer does.
      Fill(&frame, counter);
      auto image = channel.Lock();
      if (!image.client_registered() || image.Bytes() != bytes) continue;
      void* data = image.data();
      if (data == nullptr) continue;
      const int64_t now =
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
              .count();
      std::memcpy(frame.data() + 8, &now, sizeof(now));
      std::memcpy(data, frame.data(), bytes);
      image.set_new_frame(true);
      ++counter;
    }
  } catch (const std::exception&) {
    return 1;
  }
  return 0;
}
