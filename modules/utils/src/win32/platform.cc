// Win32 side of the platform layer: the shell's known folders and directory creation, and wide
// file calls for every path.

#include "platform.h"

#include <windows.h>
// windows.h first: the shell headers rely on its types.
#include <knownfolders.h>
#include <shlobj.h>
#include <sys/stat.h>

#include <stdexcept>
#include <string>

#include "utils/path.h"
#include "utils/process.h"

namespace vantisol::platform {

namespace {
constexpr DWORD kMaxPath = 260;
}

std::string RoamingAppDataFolder() {
  PWSTR folder = nullptr;
  std::string result;
  if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder) == S_OK) {
    result = WideToUtf8(folder);
  }
  CoTaskMemFree(folder);
  return result;
}

std::string ExecutableFilePath() { return utils::ModuleFilePath(nullptr); }

std::string FullPath(const std::string& text) {
  wchar_t buffer[kMaxPath];
  const DWORD length = GetFullPathNameW(Utf8ToWide(text).c_str(), kMaxPath, buffer, nullptr);
  if (length == 0 || length >= kMaxPath) {
    throw std::runtime_error("Internal error in realpath(): " + std::to_string(GetLastError()));
  }
  return WideToUtf8(std::wstring(buffer, length));
}

bool IsDirectory(const std::string& text) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(text).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::string& text) {
  return GetFileAttributesW(Utf8ToWide(text).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectories(const std::string& text) {
  return SHCreateDirectoryExW(nullptr, Utf8ToWide(text).c_str(), nullptr) == ERROR_SUCCESS;
}

bool FileSize(const std::string& text, uint64_t* size) {
  struct _stat64 info;
  if (_wstat64(Utf8ToWide(text).c_str(), &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool RemoveFile(const std::string& text) { return DeleteFileW(Utf8ToWide(text).c_str()) != 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str()) != 0;
}

}  // namespace vantisol::platform

namespace vantisol::utils {

// The wide query: the narrow one answers in the system code page, which is not UTF-8 and loses
// letters outside it.
std::string ModuleFilePath(const void* address) {
  HMODULE module = nullptr;
  if (address != nullptr && !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                static_cast<LPCWSTR>(address), &module)) {
    return {};
  }
  constexpr size_t kLongestPath = 32768;
  std::wstring buffer(platform::kMaxPath, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return WideToUtf8(buffer);
    }
    // Cut short: the buffer was too small.
    if (buffer.size() >= kLongestPath) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace vantisol::utils
