#pragma once

// A child process with a pipe to its standard input and one from its standard output, for tests
// of behaviour between processes.

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace vantisol::test {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& arguments);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of the child's output without its line end; empty at the end of its output.
  std::string ReadLine();
  // Reads lines until one equals `line`; false when the output ends first. Every line read is
  // kept in output().
  bool WaitFor(const std::string& line);
  void Send(const std::string& line);
  // Ends the child's input, which asks it to finish, and waits for its exit code.
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
#endif
  bool ReadMore();
  void CloseInput();
  int Wait();
};

}  // namespace vantisol::test
