#pragma once

// A child process with a pipe to its standard input and one from its standard output, for tests
// of behaviour between processes.

#include <chrono>
#include <string>
#include <vector>

#include "watchdog.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace vantisol::test {

// Every call that waits for the child gives up after its limit (the tests' wait limit, scaled by
// the calling test's build, unless a test that starts a whole program asks for more), notes that in
// output() and returns as if the output had ended (a hung child is then killed), so that a test
// fails in seconds.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& arguments,
                        std::chrono::seconds limit = kWaitLimit);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of the child's output without its line end; empty at the end of its output.
  std::string ReadLine();
  // Reads lines until one equals `line`; false when the output ends first. Every line read is
  // kept in output().
  bool WaitFor(const std::string& line);
  void Send(const std::string& line);
  // Ends the child's input, which asks it to finish, and waits for its exit code (128 + 9 when it
  // had to be killed).
  int Finish();
  // Ends the child at once, as a crash would, and waits for it.
  void Kill();

  const std::string& output() const { return output_; }

 private:
  std::string output_;
  std::string buffer_;
  bool running_ = true;
#if defined(_WIN32)
  PROCESS_INFORMATION process_{};
  HANDLE input_ = nullptr;
  HANDLE output_pipe_ = nullptr;
#else
  pid_t pid_ = -1;
  int input_ = -1;
  int output_pipe_ = -1;
  void KillGroup();
#endif
  std::chrono::seconds limit_;
  std::chrono::steady_clock::time_point deadline_;
  void StartWaiting();
  std::string NextLine();
  // False at the end of the output or at the deadline.
  bool ReadMore();
  void CloseInput();
  // Waits for the exit until the deadline, then kills the child.
  int Wait();
};

}  // namespace vantisol::test
