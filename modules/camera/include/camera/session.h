#pragma once

#include <memory>
#include <string>

#include "pxc/pxc.h"

namespace vantisol {

// A new session of the camera runtime found through the registry, or null. Never throws.
PXCSession* CreateSession();
// A new session of the runtime library at an explicit path, or null.
PXCSession* CreateSessionFromFile(const std::string& path, int local);

class Registry;

// The search behind CreateSession, with its inputs explicit; loaded_from names the library that
// gave the session.
PXCSession* FindSession(const Registry& registry, const std::string& executable_folder,
                        std::string* loaded_from = nullptr);

// Releases a runtime interface through the runtime.
struct PXCRelease {
  void operator()(PXCBase* object) const {
    if (object) object->Release();
  }
};
template <typename T>
using PXCPtr = std::unique_ptr<T, PXCRelease>;

}  // namespace vantisol
