#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "utils/logging.h"

class QOpenGLContext;

namespace vantisol {

class OpenGLContext;

namespace test {

// The test binary's one offscreen context, current on the main thread during the tests.
OpenGLContext& TestContext();

// Records the log lines written while it lives, as "LEVEL text".
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  // How many lines are exactly `line`.
  int Count(const std::string& line) const;
  // How many lines start with `prefix`.
  int CountPrefix(const std::string& prefix) const;
};

}  // namespace test
}  // namespace vantisol
