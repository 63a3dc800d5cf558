#include "utils/single_instance_application.h"

#include <map>
#include <mutex>

#include "kernel_objects.h"
#include "utils/logging.h"

namespace vantisol::utils {

bool IsFirstApplication(const std::string& name) {
  // Never destroyed: the answers hold for the whole process, also during static destruction.
  static auto* cache_mutex = new std::mutex;
  static auto* cache = new std::map<std::string, bool>;
  std::lock_guard<std::mutex> lock(*cache_mutex);
  const auto cached = cache->find(name);
  if (cached != cache->end()) return cached->second;

  int error = 0;
  const platform::InstanceMarker* mutex_handle =
      platform::CreateInstanceMarker("Vantisol_" + name + "_mutex", &error);
  bool first = false;
  if (error == 0) {
    VANTISOL_CHECK(mutex_handle != nullptr);
    first = true;
  } else if (error != platform::kErrorAccessDenied && error != platform::kErrorAlreadyExists) {
    LOG(ERROR) << "Unknown error occurred: " << error;
  }
  (*cache)[name] = first;
  return first;
}

}  // namespace vantisol::utils
