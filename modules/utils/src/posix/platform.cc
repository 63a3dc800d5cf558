// POSIX side of the platform layer. The roaming application-data folder maps to the per-user
// data folder of the XDG base-directory convention ($XDG_DATA_HOME, else ~/.local/share).

#include "platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "utils/path.h"
#include "utils/process.h"

namespace vantisol::platform {

std::string RoamingAppDataFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && data_home[0] == '/') return data_home;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr) return {};
    home = entry->pw_dir;
  }
  return std::string(home) + "/.local/share";
}

std::string ExecutableFilePath() { return utils::ModuleFilePath(nullptr); }

std::string FullPath(const std::string& text) {
  if (!text.empty() && text[0] == '/') return text;
  std::vector<char> buffer(PATH_MAX);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) {
    throw std::runtime_error("Internal error in realpath(): " + std::to_string(errno));
  }
  return std::string(buffer.data()) + "/" + text;
}

bool IsDirectory(const std::string& text) {
  struct stat info;
  return stat(text.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& text) {
  struct stat info;
  return stat(text.c_str(), &info) == 0;
}

bool CreateDirectories(const std::string& text) {
  if (text.empty()) return false;
  for (size_t end = text.find('/', 1);; end = text.find('/', end + 1)) {
    const std::string prefix = text.substr(0, end);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) break;
  }
  return IsDirectory(text);
}

bool FileSize(const std::string& text, uint64_t* size) {
  struct stat info;
  if (stat(text.c_str(), &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool RemoveFile(const std::string& text) { return unlink(text.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace vantisol::platform

namespace vantisol::utils {

std::string ModuleFilePath(const void* address) {
  if (address == nullptr) {
    std::vector<char> buffer(PATH_MAX);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
  }
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  // The executable itself is named as it was started (possibly relative, or found on PATH).
  Dl_info program{};
  if (dladdr(reinterpret_cast<const void*>(getauxval(AT_PHDR)), &program) != 0 &&
      program.dli_fbase == info.dli_fbase) {
    return ModuleFilePath(nullptr);
  }
  std::vector<char> resolved(PATH_MAX);
  if (realpath(info.dli_fname, resolved.data()) == nullptr) return {};
  return resolved.data();
}

}  // namespace vantisol::utils
