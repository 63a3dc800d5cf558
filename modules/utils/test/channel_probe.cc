// One side of the frame channel in its own process, driven by the tests:
//   channel_probe server            registers as server; each input line "frame <value>" writes a
//                                   frame of the client's size filled with <value>
//   channel_probe program           a server that holds the program's own claim too
//   channel_probe client <w> <h>    registers as client and asks for w x h
//   channel_probe hold <key>        takes the named block's mutex and keeps it
//   channel_probe plant <key> <n>   creates (or opens) the named block with n bytes and keeps it
//   channel_probe first <name>...   prints "<name> 1" or "<name> 0" per name
//   channel_probe fsize <n> ...     any of the above with files limited to n bytes (RLIMIT_FSIZE)
//   channel_probe rounds <side>     opens the channel as "client" (asking for 64 x 48) or
//                                   "server" at each input line and closes it at the next one,
//                                   printing "waiting", "ready" and "ended" on the way
// A client's input line "size <w> <h>" asks for another size. The input line "stream <value>"
// makes a server write a frame filled with <value> every 2 ms; "stream" makes a client take the
// new frames, printing "streaming <value>" at the first. A server's input line "client" prints
// "client 1" while a live client holds the channel, else "client 0". It prints "ready" when set up
// and ends when its input ends. Log lines go to standard output.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "utils/logging.h"
#include "utils/shared_memory.h"
#include "utils/shared_memory_image.h"
#include "utils/single_instance_application.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace {

// `report` tells the outcome on standard output; a streaming writer keeps quiet.
void WriteFrame(vantisol::SharedMemoryImage* channel, int value, bool report) {
  auto image = channel->Lock();
  if (!image.client_registered()) {
    if (report) std::cout << "no client" << std::endl;
    return;
  }
  void* data = image.data();
  if (data == nullptr) {
    if (report) std::cout << "no block for " << image.Bytes() << std::endl;
    return;
  }
  std::memset(data, value, image.Bytes());
  image.set_new_frame(true);
  if (report) std::cout << "wrote " << image.Bytes() << std::endl;
}

// Polls for new frames as the virtual camera does; prints the first one's value.
void TakeFrame(vantisol::SharedMemoryImage* channel, bool* seen) {
  auto image = channel->Lock();
  if (!image.new_frame()) return;
  const auto* data = static_cast<const unsigned char*>(image.data());
  image.set_new_frame(false);
  if (data == nullptr || *seen) return;
  *seen = true;
  std::cout << "streaming " << int{data[0]} << std::endl;
}

// Runs `step` every 2 ms on its own thread until the object ends.
class Repeater {
 public:
  explicit Repeater(std::function<void()> step)
      : thread_([this, step = std::move(step)] {
          while (!stop_) {
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        }) {}
  ~Repeater() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Lets a test make two processes open the channel at the same moment, again and again.
int Rounds(bool is_client) {
  std::string line;
  for (;;) {
    std::cout << "waiting" << std::endl;
    if (!std::getline(std::cin, line)) return 0;
    {
      vantisol::SharedMemoryImage side(is_client);
      if (is_client) side.Lock().SetSize(64, 48);
      std::cout << "ready" << std::endl;
      if (!std::getline(std::cin, line)) return 0;
    }
    std::cout << "ended" << std::endl;
  }
}

int Run(int argc, char** argv) {
#if !defined(_WIN32)
  if (argc > 3 && std::string(argv[1]) == "fsize") {
    // A file grown past the limit fails with EFBIG; the signal that would come with it is ignored.
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t bytes = std::stoul(argv[2]);
    const rlimit limit = {bytes, bytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    argc -= 2;
    argv += 2;
  }
#endif
  if (argc == 3 && std::string(argv[1]) == "rounds")
    return Rounds(std::string(argv[2]) == "client");
  const std::string command = argc > 1 ? argv[1] : "";
  std::unique_ptr<vantisol::utils::InstanceGuard> program;
  std::unique_ptr<vantisol::SharedMemoryImage> channel;
  std::unique_ptr<vantisol::SharedMemory> block;
  bool seen = false;
  // Declared after what it uses: it ends, and stops using them, first.
  std::unique_ptr<Repeater> repeater;
  if (command == "server" || command == "program") {
    if (command == "program")
      program = std::make_unique<vantisol::utils::InstanceGuard>(vantisol::kProgramClaim);
    channel = std::make_unique<vantisol::SharedMemoryImage>(false);
  } else if (command == "client" && argc == 4) {
    channel = std::make_unique<vantisol::SharedMemoryImage>(true);
    channel->Lock().SetSize(std::stoi(argv[2]), std::stoi(argv[3]));
  } else if (command == "hold" && argc == 3) {
    block = std::make_unique<vantisol::SharedMemory>(argv[2]);
    if (!block->Lock()) return 2;
  } else if (command == "plant" && argc == 4) {
    block = std::make_unique<vantisol::SharedMemory>(argv[2]);
    block->Create(std::stoi(argv[3]));
    if (!block->open()) return 2;
  } else if (command == "first") {
    for (int i = 2; i < argc; ++i) {
      std::cout << argv[i] << " " << vantisol::utils::IsFirstApplication(argv[i]) << std::endl;
    }
  } else {
    std::cerr << "unknown command" << std::endl;
    return 2;
  }
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.rfind("stream", 0) == 0 && channel != nullptr && repeater == nullptr) {
      vantisol::SharedMemoryImage* side = channel.get();
      if (command == "server") {
        const int value = std::stoi(line.substr(6));
        repeater = std::make_unique<Repeater>([side, value] { WriteFrame(side, value, false); });
      } else {
        repeater = std::make_unique<Repeater>([side, &seen] { TakeFrame(side, &seen); });
      }
    } else if (line == "client" && command == "server") {
      const bool alive = channel->Lock().ClientAlive();
      std::cout << "client " << (alive ? 1 : 0) << std::endl;
    } else if (line.rfind("frame ", 0) == 0 && channel != nullptr) {
      WriteFrame(channel.get(), std::stoi(line.substr(6)), true);
    } else if (line.rfind("size ", 0) == 0 && channel != nullptr) {
      const size_t blank = line.find(' ', 5);
      auto image = channel->Lock();
      image.SetSize(std::stoi(line.substr(5, blank - 5)), std::stoi(line.substr(blank + 1)));
      std::cout << (image.data() != nullptr ? "sized " : "no block for ") << image.Bytes()
                << std::endl;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Format, "%level %msg");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "true");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cout << "error: " << error.what() << std::endl;
    return 1;
  }
}
