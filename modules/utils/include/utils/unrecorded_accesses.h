#pragma once

#include "utils/sanitizers.h"

#if VANTISOL_THREAD_SANITIZER()
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace vantisol {

// While it lives, the thread sanitizer records none of the calling thread's plain memory writes;
// its atomics and locks still order the threads. For a copy that an uninstrumented library makes
// and hands to another thread under a lock of its own, which the sanitizer cannot see (Qt's queued
// signal arguments): the receiving thread's use of the copy is then not taken for a race. Does
// nothing in other builds.
class UnrecordedAccesses {
 public:
  // User-provided in every build, so that a guard is never an unused variable.
  UnrecordedAccesses() {
#if VANTISOL_THREAD_SANITIZER()
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
  }
  ~UnrecordedAccesses() {
#if VANTISOL_THREAD_SANITIZER()
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
  }
  UnrecordedAccesses(const UnrecordedAccesses&) = delete;
  UnrecordedAccesses& operator=(const UnrecordedAccesses&) = delete;
};

}  // namespace vantisol
