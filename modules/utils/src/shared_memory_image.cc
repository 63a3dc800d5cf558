#include "utils/shared_memory_image.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "utils/logging.h"
#include "utils/single_instance_application.h"

namespace vantisol {

namespace {

// The live client's claim; it is made and given up only under the header lock.
constexpr char kClientClaim[] = "Client";

// Longer than any client polls: a byte clear for this long was given up, not about to come back.
constexpr std::chrono::seconds kUnclaimedForget{5};

[[noreturn]] void Fail(const std::string& text) {
  LOG(ERROR) << text;
  throw std::runtime_error(text);
}

// Takes the header lock; the pointer's deleter releases it. Null when the lock or the view fails.
std::shared_ptr<SharedMemoryImage::Header> LockHeader(SharedMemory* block) {
  if (!block->Lock()) return nullptr;
  if (!block->open()) {
    block->Unlock();
    return nullptr;
  }
  return std::shared_ptr<SharedMemoryImage::Header>(
      static_cast<SharedMemoryImage::Header*>(block->data()),
      [block](SharedMemoryImage::Header*) { block->Unlock(); });
}

// Attaches to the header block or creates it, all under one hold of the header lock: a side that
// registered between a failed attach and the creation would otherwise have its byte zeroed.
std::shared_ptr<SharedMemoryImage::Header> OpenHeader(SharedMemory* block) {
  if (!block->Lock()) return nullptr;
  if (!block->Attach(sizeof(SharedMemoryImage::Header))) {
    block->Create(sizeof(SharedMemoryImage::Header));
    if (block->open() && block->is_new()) {
      std::memset(block->data(), 0, sizeof(SharedMemoryImage::Header));
    }
  }
  // The mutex is recursive: the returned pointer holds its own level of the lock.
  std::shared_ptr<SharedMemoryImage::Header> header = LockHeader(block);
  block->Unlock();
  return header;
}

}  // namespace

SharedMemoryImage::SharedMemoryImage(bool is_client)
    : header_("Vantisol::SharedImageHeader"), is_client_(is_client) {
  std::shared_ptr<Header> header = OpenHeader(&header_);
  VANTISOL_CHECK(header);
  if (header == nullptr) Fail("Could not open the shared image header!");

  if (is_client_) {
    // A byte left set without a live holder of the claim is a client that died registered.
    auto guard = std::make_unique<utils::InstanceGuard>(kClientClaim);
    if (!guard->held()) Fail(kClientRunning);
    if (header->client_registered > 0) LOG(WARNING) << "Client seems to have crashed before...";
    header->client_registered = 1;
    client_guard_ = std::move(guard);
  } else {
    if (!utils::IsFirstApplication("Server")) Fail(kServerRunning);
    if (header->server_registered > 0) {
      LOG(WARNING) << "Server seems to have crashed before...";
    } else {
      header->server_registered = 1;
    }
  }
}

SharedMemoryImage::~SharedMemoryImage() {
  std::shared_ptr<Header> header = LockHeader(&header_);
  if (header == nullptr) return;
  // clang-format off
  VANTISOL_CHECK((is_client_ && header->client_registered) || (!is_client_ && header->server_registered));
  // clang-format on
  if (is_client_) {
    header->client_registered = 0;
    // Under the header lock: a client that finds the byte clear must find the claim free too.
    client_guard_.reset();
  } else {
    header->server_registered = 0;
  }
}

SharedMemoryImage::LockedImage SharedMemoryImage::Lock() {
  std::shared_ptr<Header> header = LockHeader(&header_);
  if (header == nullptr) Fail("Could not lock the shared image header!");
  return LockedImage(std::move(header), &data_, &unclaimed_);
}

bool SharedMemoryImage::UnclaimedClientLog::Seen(Byte byte,
                                                 std::chrono::steady_clock::time_point now) {
  if (byte == Byte::kClaimed) {
    warned_ = false;
  } else if (byte == Byte::kUnclaimed) {
    clear_since_.reset();
    if (warned_) return false;
    warned_ = true;
    return true;
  } else if (warned_) {
    if (!clear_since_) clear_since_ = now;
    if (now - *clear_since_ >= kUnclaimedForget) warned_ = false;
  }
  return false;
}

SharedMemoryImage::LockedImage::LockedImage(std::shared_ptr<Header> header, SharedMemory* data,
                                            UnclaimedClientLog* unclaimed)
    : header_(std::move(header)), data_(data), unclaimed_(unclaimed) {}

SharedMemoryImage::LockedImage::LockedImage(LockedImage&& other) noexcept
    : header_(std::move(other.header_)),
      data_(other.data_),
      unclaimed_(other.unclaimed_),
      data_locked_(other.data_locked_) {
  other.data_locked_ = false;
}

SharedMemoryImage::LockedImage::~LockedImage() {
  if (data_locked_) data_->Unlock();
  header_.reset();
}

unsigned SharedMemoryImage::LockedImage::Bytes() const {
  // The size comes from another process: a negative or oversized request means no picture.
  if (header_->width <= 0 || header_->height <= 0) return 0;
  const uint64_t bytes =
      uint64_t{3} * static_cast<uint64_t>(header_->width) * static_cast<uint64_t>(header_->height);
  return bytes > 0x7FFFFFFF ? 0 : static_cast<unsigned>(bytes);
}

bool SharedMemoryImage::LockedImage::ClientAlive() {
  using Byte = UnclaimedClientLog::Byte;
  const auto now = std::chrono::steady_clock::now();
  if (!client_registered()) {
    unclaimed_->Seen(Byte::kClear, now);
    return false;
  }
  // Asked under the header lock, where no client is taking or giving up its claim.
  if (utils::InstanceGuard::IsHeld(kClientClaim)) {
    unclaimed_->Seen(Byte::kClaimed, now);
    return true;
  }
  if (unclaimed_->Seen(Byte::kUnclaimed, now))
    LOG(WARNING) << "Client seems to have crashed before...";
  header_->client_registered = 0;
  return false;
}

void SharedMemoryImage::LockedImage::SetSize(int width, int height) {
  header_->width = width;
  header_->height = height;
  // The block is zeroed below: a frame flagged for the size before, or for a client that has
  // gone, would hand the zeros over as a picture.
  header_->new_frame = 0;
  void* view = MapData(Bytes());
  if (view != nullptr) std::memset(view, 0, Bytes());
}

void* SharedMemoryImage::LockedImage::data() { return MapData(Bytes()); }

void* SharedMemoryImage::LockedImage::MapData(unsigned size) {
  if (size == 0) {
    if (data_locked_) data_->Unlock();
    data_locked_ = false;
    data_->Close();
    return nullptr;
  }
  const std::string key = "Vantisol::Data " + std::to_string(size);
  if (key == data_->key() && data_->open()) return data_->data();
  if (data_locked_) data_->Unlock();
  data_locked_ = false;
  data_->Close();
  data_->set_key(key);
  data_->Create(static_cast<int>(size));
  data_locked_ = data_->Lock();
  return data_->open() ? data_->data() : nullptr;
}

}  // namespace vantisol
