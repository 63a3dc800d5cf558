#include "child_process.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>

#if !defined(_WIN32)
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace vantisol::test {

void ChildProcess::StartWaiting() { deadline_ = std::chrono::steady_clock::now() + limit_; }

std::string ChildProcess::ReadLine() {
  StartWaiting();
  return NextLine();
}

std::string ChildProcess::NextLine() {
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      output_ += line + "\n";
      return line;
    }
    if (!ReadMore()) {
      std::string rest;
      rest.swap(buffer_);
      output_ += rest;
      return rest;
    }
  }
}

bool ChildProcess::WaitFor(const std::string& line) {
  StartWaiting();
  for (;;) {
    const std::string next = NextLine();
    if (next == line) return true;
    if (next.empty() && buffer_.empty() && !ReadMore()) return false;
  }
}

int ChildProcess::Finish() {
  StartWaiting();
  CloseInput();
  while (ReadMore()) {
  }
  buffer_.erase(std::remove(buffer_.begin(), buffer_.end(), '\r'), buffer_.end());
  output_ += buffer_;
  buffer_.clear();
  return Wait();
}

#if defined(_WIN32)

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, std::chrono::seconds limit)
    : limit_(limit) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE child_input = nullptr;
  HANDLE child_output = nullptr;
  if (!CreatePipe(&child_input, &input_, &inherit, 0) ||
      !CreatePipe(&output_pipe_, &child_output, &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_pipe_, HANDLE_FLAG_INHERIT, 0);
  std::string command;
  for (const std::string& argument : arguments) command += "\"" + argument + "\" ";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_input;
  startup.hStdOutput = child_output;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process_);
  CloseHandle(child_input);
  CloseHandle(child_output);
  if (!started) throw std::runtime_error("CreateProcess failed for " + command);
}

ChildProcess::~ChildProcess() {
  if (running_) Kill();
  CloseInput();
  if (output_pipe_ != nullptr) CloseHandle(output_pipe_);
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool ChildProcess::ReadMore() {
  // An anonymous pipe has no timed read: look for data first.
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(output_pipe_, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available > 0) break;
    if (std::chrono::steady_clock::now() >= deadline_) {
      output_ += "[no output from the child in time]\n";
      return false;
    }
    Sleep(5);
  }
  char chunk[4096];
  DWORD count = 0;
  if (!ReadFile(output_pipe_, chunk, sizeof(chunk), &count, nullptr) || count == 0) return false;
  buffer_.append(chunk, count);
  return true;
}

void ChildProcess::Send(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void ChildProcess::CloseInput() {
  if (input_ == nullptr) return;
  CloseHandle(input_);
  input_ = nullptr;
}

int ChildProcess::Wait() {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline_ - std::chrono::steady_clock::now());
  if (WaitForSingleObject(process_.hProcess, DWORD(std::max<int64_t>(0, left.count()))) !=
      WAIT_OBJECT_0) {
    output_ += "[the child did not exit in time: killed]\n";
    TerminateProcess(process_.hProcess, 128 + 9);
    WaitForSingleObject(process_.hProcess, INFINITE);
  }
  running_ = false;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<int>(code);
}

void ChildProcess::Kill() {
  TerminateProcess(process_.hProcess, 9);
  StartWaiting();
  Wait();
}

#else

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, std::chrono::seconds limit)
    : limit_(limit) {
  int to_child[2];
  int from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const int result = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  input_ = to_child[1];
  output_pipe_ = from_child[0];
  if (result != 0) throw std::runtime_error("posix_spawn failed for " + arguments[0]);
  // A child that ends early must not end the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
  if (running_) Kill();
  CloseInput();
  close(output_pipe_);
}

bool ChildProcess::ReadMore() {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    pollfd ready{output_pipe_, POLLIN, 0};
    const int result = poll(&ready, 1, int(std::max<int64_t>(0, left.count())));
    if (result > 0) break;
    if (result == 0) {
      output_ += "[no output from the child in time]\n";
      return false;
    }
    if (errno != EINTR) return false;
  }
  char chunk[4096];
  ssize_t count;
  do {
    count = read(output_pipe_, chunk, sizeof(chunk));
  } while (count < 0 && errno == EINTR);
  if (count <= 0) return false;
  buffer_.append(chunk, static_cast<size_t>(count));
  return true;
}

void ChildProcess::Send(const std::string& line) {
  const std::string text = line + "\n";
  if (write(input_, text.data(), text.size()) < 0) return;
}

void ChildProcess::CloseInput() {
  if (input_ < 0) return;
  close(input_);
  input_ = -1;
}

int ChildProcess::Wait() {
  int status = 0;
  for (;;) {
    const pid_t result = waitpid(pid_, &status, WNOHANG);
    if (result == pid_ || (result < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() >= deadline_) {
      output_ += "[the child did not exit in time: killed]\n";
      KillGroup();
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    usleep(2000);
  }
  running_ = false;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A child that leads a process group of its own (as `timeout` makes itself) takes its group with
// it; otherwise its children would live on, holding the test's output open.
void ChildProcess::KillGroup() {
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
}

void ChildProcess::Kill() {
  KillGroup();
  StartWaiting();
  Wait();
}

#endif

}  // namespace vantisol::test
