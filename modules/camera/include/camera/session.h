#pragma once

#include <memory>
#include <string>

#include "pxc/pxc.h"

namespace vantisol {

// A new session of the camera runtime found through the registry, or null. Never throws. A
// runtime that loaded but made no session leaves why in `refusal` (its own words, or its status).
PXCSession* CreateSession(std::string* refusal = nullptr);
// A new session of the runtime library at an explicit path, or null.
PXCSession* CreateSessionFromFile(const std::string& path, int local,
                                  std::string* refusal = nullptr);

class Registry;

// The search behind CreateSession, with its inputs explicit; loaded_from names the library that
// gave the session.
PXCSession* FindSession(const Registry& registry, const std::string& executable_folder,
                        std::string* loaded_from = nullptr, std::string* refusal = nullptr);

// Releases a runtime interface through the runtime.
struct PXCRelease {
  void operator()(PXCBase* object) const {
    if (object) object->Release();
  }
};
template <typename T>
using PXCPtr = std::unique_ptr<T, PXCRelease>;

}  // namespace vantisol
