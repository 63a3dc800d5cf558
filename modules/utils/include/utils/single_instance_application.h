#pragma once

#include <string>

namespace vantisol::utils {

// True when the calling process is the first of the user's logon to claim `name`; the claim lasts
// until the process ends. The first answer per name is final for the process.
bool IsFirstApplication(const std::string& name);

}  // namespace vantisol::utils
