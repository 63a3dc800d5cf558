#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "utils/shared_memory.h"
#include "utils/single_instance_application.h"

namespace vantisol {

// A client's refusal while another live client holds the channel.
constexpr char kClientRunning[] = "Already a client running!";
// A server's refusal while another process (the program or another producer) serves the channel.
constexpr char kServerRunning[] = "Already a server running!";
// The program's own utils::InstanceGuard name, held for its whole life: it tells a server refused
// with kServerRunning whether the program holds the channel or another producer does.
constexpr char kProgramClaim[] = "Program";

// The frame channel between the program (server) and the virtual camera (client): a 12-byte
// header block and a data block of width x height x 3 bytes, each with its named mutex.
class SharedMemoryImage {
 public:
  // Server: tells whether dropping a byte that no claim backs is news. A client that never takes
  // the claim sets its byte again after each drop; it stays the same client until a claimed one is
  // seen or the byte stays clear for 5 s. Used under the header lock only.
  class UnclaimedClientLog {
   public:
    enum class Byte { kClear, kClaimed, kUnclaimed };
    // True when the byte is unclaimed and its drop is to be logged; `now` is when it was seen.
    bool Seen(Byte byte, std::chrono::steady_clock::time_point now);

   private:
    bool warned_ = false;
    std::optional<std::chrono::steady_clock::time_point> clear_since_;
  };

  struct Header {
    int32_t width;
    int32_t height;
    int8_t client_registered;
    int8_t server_registered;
    int8_t new_frame;
    int8_t padding;
  };
  static_assert(sizeof(Header) == 12, "the header block is 12 bytes");

  // Access to the channel under the header lock (and, once taken, the data block's lock).
  class LockedImage {
   public:
    ~LockedImage();
    LockedImage(LockedImage&& other) noexcept;
    LockedImage(const LockedImage&) = delete;
    LockedImage& operator=(const LockedImage&) = delete;
    LockedImage& operator=(LockedImage&&) = delete;

    int width() const { return header_->width; }
    int height() const { return header_->height; }
    bool client_registered() const { return header_->client_registered > 0; }
    bool server_registered() const { return header_->server_registered > 0; }
    bool new_frame() const { return header_->new_frame > 0; }
    void set_new_frame(bool value) { header_->new_frame = value ? 1 : 0; }
    unsigned Bytes() const;

    // Server: whether a live client holds the channel. A set byte that no live process's client
    // claim backs is a client that died registered, or one that never took the claim: the byte
    // is cleared here, with a warning once per such client.
    bool ClientAlive();

    // Client: asks for this picture size and zero-fills the data block of that size; no picture
    // is waiting after it.
    void SetSize(int width, int height);
    // The data block for the header's size.
    void* data();
    // The data block of `size` bytes, created or opened when the size changed; null for 0.
    void* MapData(unsigned size);

    Header* header() const { return header_.get(); }
    // True while this access holds the data block's mutex.
    bool data_locked() const { return data_locked_; }

   private:
    // Made by SharedMemoryImage::Lock only, which lends it the channel's own records.
    friend class SharedMemoryImage;
    LockedImage(std::shared_ptr<Header> header, SharedMemory* data, UnclaimedClientLog* unclaimed);

    std::shared_ptr<Header> header_;
    SharedMemory* data_;
    UnclaimedClientLog* unclaimed_;
    bool data_locked_ = false;
  };

  // Opens the channel and registers this side; throws std::runtime_error when the side is taken
  // by a live process or the header cannot be opened. A client takes over the byte of one that
  // died registered.
  explicit SharedMemoryImage(bool is_client);
  ~SharedMemoryImage();
  SharedMemoryImage(const SharedMemoryImage&) = delete;
  SharedMemoryImage& operator=(const SharedMemoryImage&) = delete;

  LockedImage Lock();

 private:
  SharedMemory header_;
  SharedMemory data_;
  bool is_client_;
  // The client's claim among live processes while it is registered.
  std::unique_ptr<utils::InstanceGuard> client_guard_;
  UnclaimedClientLog unclaimed_;
};

}  // namespace vantisol
