#include "utils/single_instance_application.h"

#include <map>
#include <mutex>

#include "kernel_objects.h"
#include "utils/logging.h"

namespace vantisol::utils {

namespace {

std::string MarkerName(const std::string& name) { return "Vantisol_" + name + "_mutex"; }

// The marker when this caller is the first holder of `name`, else null.
platform::InstanceMarker* Claim(const std::string& name) {
  int error = 0;
  platform::InstanceMarker* mutex_handle = platform::CreateInstanceMarker(MarkerName(name), &error);
  if (error == 0) {
    VANTISOL_CHECK(mutex_handle != nullptr);
    return mutex_handle;
  }
  if (error != platform::kErrorAccessDenied && error != platform::kErrorAlreadyExists) {
    LOG(ERROR) << "Unknown error occurred: " << error;
  }
  return nullptr;
}

}  // namespace

bool IsFirstApplication(const std::string& name) {
  // Never destroyed: the answers hold for the whole process, also during static destruction. Each
  // answer keeps its marker (null when not first), never released: the claim lasts as long as the
  // process.
  static auto* cache_mutex = new std::mutex;
  static auto* cache = new std::map<std::string, platform::InstanceMarker*>;
  std::lock_guard<std::mutex> lock(*cache_mutex);
  const auto cached = cache->find(name);
  if (cached != cache->end()) return cached->second != nullptr;
  return ((*cache)[name] = Claim(name)) != nullptr;
}

InstanceGuard::InstanceGuard(const std::string& name) : marker_(Claim(name)) {}

InstanceGuard::~InstanceGuard() {
  if (marker_ != nullptr) platform::ReleaseInstanceMarker(marker_);
}

bool InstanceGuard::IsHeld(const std::string& name) {
  return platform::InstanceMarkerHeld(MarkerName(name));
}

}  // namespace vantisol::utils
