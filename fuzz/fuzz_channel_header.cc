// The frame channel's header as a careless or hostile peer writes it: the input's first 12 bytes
// are the header, the rest a script of the writer's and the client's calls and of further header
// rewrites. Both sides live in this process for the whole run, in a private object folder; files
// are limited to 16 MiB, as a full file system would limit them, so huge sizes fail quickly.
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "utils/shared_memory_image.h"

namespace {

using vantisol::SharedMemoryImage;

struct Channel {
  Channel() {
    char folder[] = "/dev/shm/vantisol-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr) abort();
    folder_ = folder;
    setenv("XDG_RUNTIME_DIR", folder, 1);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {16 << 20, 16 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    server = std::make_unique<SharedMemoryImage>(false);
    client = std::make_unique<SharedMemoryImage>(true);
  }
  ~Channel() {
    client.reset();
    server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::unique_ptr<SharedMemoryImage> server, client;

 private:
  std::string folder_;
};

// Reads n bytes of the script, zero-padded at its end.
class Script {
 public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  void Take(void* out, size_t n) {
    std::memset(out, 0, n);
    const size_t available = at_ < size_ ? std::min(n, size_ - at_) : 0;
    std::memcpy(out, data_ + at_, available);
    at_ += n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void PeerWrites(SharedMemoryImage* side, Script* script) {
  auto image = side->Lock();
  script->Take(image.header(), sizeof(SharedMemoryImage::Header));
}

// The program's side: a frame into the block of the client's size.
void WriterSendsFrame(SharedMemoryImage* server, uint8_t value) {
  auto image = server->Lock();
  if (!image.client_registered()) return;
  auto* bytes = static_cast<uint8_t*>(image.data());
  if (bytes == nullptr) return;
  std::memset(bytes, value, image.Bytes());
  image.set_new_frame(true);
}

// The virtual camera's side: takes a new frame.
void ClientTakesFrame(SharedMemoryImage* client) {
  auto image = client->Lock();
  if (!image.new_frame()) return;
  const auto* bytes = static_cast<const uint8_t*>(image.data());
  if (bytes != nullptr) {
    volatile uint8_t seen = bytes[0] ^ bytes[image.Bytes() - 1];
    (void)seen;
  }
  image.set_new_frame(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantisol::fuzz::QuietLogging();
  static Channel channel;
  Script script(data, size);
  PeerWrites(channel.server.get(), &script);
  while (!script.done()) {
    uint8_t op = 0;
    script.Take(&op, 1);
    switch (op % 4) {
      case 0:
        WriterSendsFrame(channel.server.get(), op);
        break;
      case 1:
        ClientTakesFrame(channel.client.get());
        break;
      case 2: {
        int32_t size[2];
        script.Take(size, sizeof(size));
        channel.client->Lock().SetSize(size[0], size[1]);
        break;
      }
      default:
        PeerWrites(channel.client.get(), &script);
        break;
    }
  }
  return 0;
}
