#pragma once

#include <string>

namespace vantisol::platform {
struct InstanceMarker;
}  // namespace vantisol::platform

namespace vantisol::utils {

// True when the calling process is the first of the user's logon to claim `name`; the claim lasts
// until the process ends. The first answer per name is final for the process.
bool IsFirstApplication(const std::string& name);

// A claim on `name` among the live holders of the user's logon, for as long as the guard lives;
// the system drops it when the holder's process ends, however it ends. Unlike IsFirstApplication,
// a second guard of the same name is refused also in the same process.
class InstanceGuard {
 public:
  explicit InstanceGuard(const std::string& name);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // False when a live holder has the claim (or it cannot be made).
  bool held() const { return marker_ != nullptr; }

  // Whether a live holder has the claim on `name` now, without taking it. Asking touches the claim
  // for a moment, so a guard made at that very moment may be refused: keep asking and claiming
  // apart, e.g. under one lock. When it cannot tell, the answer is true.
  static bool IsHeld(const std::string& name);

 private:
  platform::InstanceMarker* marker_;
};

}  // namespace vantisol::utils
