#include "utils/shared_memory.h"

#include "kernel_objects.h"
#include "utils/logging.h"
#include "utils/utils.h"

namespace vantisol {

namespace {
// The wait must report plain success; the text names the system call the check stands for.
// clang-format off
constexpr char kWaitCheck[] = "Check failed: [WaitForSingleObject(data_->mutex, 0xFFFFFFFF) == ((((DWORD )0x00000000L) ) + 0 )] ";
// clang-format on
}  // namespace

struct SharedMemory::Handles {
  platform::Mapping* file = nullptr;
  void* file_view = nullptr;
  platform::Mutex* mutex = nullptr;
  // The bytes the block must hold for its user.
  size_t required = 0;
  // The last failure logged: one that repeats every frame is logged once, until it changes or
  // the block opens.
  std::string last_failure;

  bool FirstTime(const std::string& failure) {
    if (failure == last_failure) return false;
    last_failure = failure;
    return true;
  }
};

SharedMemory::SharedMemory() : SharedMemory(std::string()) {}

SharedMemory::SharedMemory(std::string key)
    : key_(std::move(key)), data_(std::make_unique<Handles>()) {}

SharedMemory::~SharedMemory() {
  if (data_->file_view != nullptr) platform::UnmapView(data_->file, data_->file_view);
  if (data_->file != nullptr) platform::CloseMapping(data_->file);
  if (data_->mutex != nullptr) platform::CloseNamedMutex(data_->mutex);
}

bool SharedMemory::open() const { return data_->file != nullptr && data_->file_view != nullptr; }

bool SharedMemory::Attach(int size) {
  VANTISOL_CHECK(!open());
  VANTISOL_CHECK(!key_.empty());
  if (open() || key_.empty()) return false;
  if (!Lock()) return false;
  data_->required = size > 0 ? static_cast<size_t>(size) : 0;
  data_->file = platform::OpenMapping(key_);
  if (data_->file != nullptr) Map();
  Unlock();
  return data_->file != nullptr;
}

void SharedMemory::Create(int size) {
  VANTISOL_CHECK(!open());
  VANTISOL_CHECK(!key_.empty());
  VANTISOL_CHECK(size > 0);
  is_new_ = false;
  if (open() || key_.empty() || size <= 0) return;
  if (!Lock()) return;
  data_->required = static_cast<size_t>(size);
  data_->file = platform::CreateMapping(key_, static_cast<uint32_t>(size), &is_new_);
  if (data_->file == nullptr) {
    const std::string failure =
        "Could not create file mapping with size " + std::to_string(size) + ": " + ErrorText();
    if (data_->FirstTime(failure)) {
      VANTISOL_CHECK(data_->file) << failure;
    }
  } else {
    Map();
  }
  Unlock();
}

void SharedMemory::Map() {
  data_->file_view = data_->file != nullptr ? platform::MapView(data_->file) : nullptr;
  if (data_->file_view == nullptr) {
    const std::string failure = "Check failed: [data_->file_view] " + ErrorText();
    if (data_->FirstTime(failure)) CLOG(FATAL, "default") << failure;
  } else if (const size_t size = platform::ViewSize(data_->file, data_->file_view);
             size < data_->required) {
    // Another process made the block shorter than its name promises: using it would write past
    // its end.
    const std::string failure = "Shared block \"" + key_ + "\" holds " + std::to_string(size) +
                                " bytes, fewer than the " + std::to_string(data_->required) +
                                " it needs: refused";
    if (data_->FirstTime(failure)) LOG(ERROR) << failure;
    platform::UnmapView(data_->file, data_->file_view);
    data_->file_view = nullptr;
  } else {
    data_->last_failure.clear();
  }
  // A mapping without a usable view is of no use and would count as closed: let it go.
  if (data_->file_view == nullptr && data_->file != nullptr) {
    platform::CloseMapping(data_->file);
    data_->file = nullptr;
  }
}

void SharedMemory::Close() {
  if (!open()) return;
  const bool locked = Lock();
  platform::UnmapView(data_->file, data_->file_view);
  platform::CloseMapping(data_->file);
  data_->file_view = nullptr;
  data_->file = nullptr;
  if (locked) Unlock();
}

bool SharedMemory::Lock() {
  if (data_->mutex == nullptr) {
    data_->mutex = platform::CreateNamedMutex(key_ + "_mutex");
    if (data_->mutex == nullptr) {
      const std::string failure = "Could not create mutex " + key_ + "_mutex: " + ErrorText();
      if (data_->FirstTime(failure)) {
        VANTISOL_CHECK(data_->mutex) << failure;
      }
      return false;
    }
  }
  const platform::WaitResult result = platform::WaitMutex(data_->mutex);
  if (result != platform::WaitResult::kSuccess) {
    CLOG(FATAL, "default") << kWaitCheck;
  }
  return result != platform::WaitResult::kFailed;
}

void SharedMemory::Unlock() {
  VANTISOL_CHECK(data_->mutex);
  if (data_->mutex == nullptr) return;
  const bool released = platform::ReleaseNamedMutex(data_->mutex);
  if (!released) CLOG(FATAL, "default") << "Check failed: [ReleaseMutex(data_->mutex)] ";
}

void* SharedMemory::data() {
  VANTISOL_CHECK(open());
  return open() ? data_->file_view : nullptr;
}

void SharedMemory::set_key(const std::string& key) {
  VANTISOL_CHECK(!open());
  if (open() || key == key_) return;
  // The mutex follows the key, so a block's mutex always carries the block's name.
  if (data_->mutex != nullptr) {
    platform::CloseNamedMutex(data_->mutex);
    data_->mutex = nullptr;
  }
  key_ = key;
}

std::string SharedMemory::ErrorText() { return EscapeLineBreaks(platform::LastErrorText()); }

}  // namespace vantisol
