#pragma once

// The few operating-system calls that the utils module needs, implemented once per platform
// (src/posix, src/win32). Paths cross this boundary as UTF-8 text in native form.

#include <cstdint>
#include <string>

namespace vantisol::platform {

// The per-user roaming application-data folder; empty when the system cannot tell.
std::string RoamingAppDataFolder();
// The running executable's full file name.
std::string ExecutableFilePath();
// The full path of `text` (relative to the working folder); throws std::runtime_error with
// "Internal error in realpath(): " and the system error code.
std::string FullPath(const std::string& text);
bool IsDirectory(const std::string& text);
bool Exists(const std::string& text);
// Creates the directory and its missing parents.
bool CreateDirectories(const std::string& text);
bool FileSize(const std::string& text, uint64_t* size);
bool RemoveFile(const std::string& text);
bool RenameFile(const std::string& from, const std::string& to);

}  // namespace vantisol::platform
