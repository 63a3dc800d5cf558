#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace vantisol {
class VantisolPipeline;
}

namespace vantisol::tools {

// The process's own resources, read in a few microseconds: for long runs that look for leaks.
struct ProcessResources {
  long resident_kb = 0;  // VmRSS
  int open_files = 0;    // entries of /proc/self/fd, less the one the count opens itself
  static ProcessResources Read();
};

// The next free texture, buffer and framebuffer names of the current context. Mesa hands out names
// above the highest ever used, so each probe moves every name by one; a rise beyond the number of
// probes is an object made; the live count tells whether it was deleted again.
class GlNameProbe {
 public:
  // Render thread, with its context current.
  void Probe();
  // Any thread: names made since the first probe, less the probes' own; -1 before two probes.
  std::array<int64_t, 3> MadeSinceFirst() const;
  // Any thread: the objects alive at the last probe; -1 before the first.
  std::array<int64_t, 3> Live() const;

 private:
  std::array<std::atomic<int64_t>, 3> first_{}, last_{}, live_{};
  std::atomic<int64_t> probes_{0};
};

// Counts every log line dispatched, whether it is written anywhere or not.
class LogLineCounter {
 public:
  static void Install();
  static int64_t lines();
};

// Switches the effects through the pipeline's setters, one step per call: colour correction,
// background mode 0/1/2, gaze correction, face undistortion, automatic camera and the bilateral
// filter each change at their own pace, so that every combination comes round. Returns the step's
// settings as one line.
class EffectCycler {
 public:
  explicit EffectCycler(VantisolPipeline* pipeline) : pipeline_(pipeline) {}
  std::string Step();

 private:
  VantisolPipeline* pipeline_;
  int step_ = 0;
};

}  // namespace vantisol::tools
