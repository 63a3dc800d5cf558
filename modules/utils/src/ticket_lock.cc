#include "utils/ticket_lock.h"

namespace vantisol {

void TicketLock::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint32_t ticket = next_ticket_++;
  condition_.wait(lock, [&] { return serving_ == ticket; });
}

bool TicketLock::TryTake() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (serving_ != next_ticket_) return false;
  ++next_ticket_;
  return true;
}

void TicketLock::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++serving_;
  condition_.notify_all();
}

uint32_t TicketLock::tickets_issued() {
  std::lock_guard<std::mutex> lock(mutex_);
  return next_ticket_;
}

}  // namespace vantisol
