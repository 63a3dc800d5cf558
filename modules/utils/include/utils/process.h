#pragma once

#include <string>

namespace vantisol::utils {

// Starts the program `file_name` as a new process with no arguments, no window and no inherited
// handles, in the caller's environment and working folder. The caller never waits for it.
// False when the system refuses to start it.
bool StartProcess(const std::string& file_name);

// The full file name (UTF-8) of the executable or library whose code holds `address`, or of the
// running executable when it is null; empty when the system cannot tell.
std::string ModuleFilePath(const void* address = nullptr);

}  // namespace vantisol::utils
