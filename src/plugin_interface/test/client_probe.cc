// The virtual camera's side of the frame channel in its own process, driven by the tests:
//   plugin_client_probe <width> <height>   registers as client and asks for that size
// Input lines: "size <w> <h>" asks for another size; "read <file>" prints "flag <0|1>" and, when
// the flag is set, writes the data block to <file> and clears the flag as the plug-in does. It
// prints "ready" when registered, "ok" after each command, and leaves the channel when its input
// ends, or after 60 s at the latest, so that a test waiting for it never hangs.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "utils/logging.h"
#include "utils/shared_memory_image.h"

int main(int argc, char** argv) {
  alarm(60);
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " <width> <height>" << std::endl;
    return 2;
  }
  try {
    vantisol::SharedMemoryImage channel(true);
    channel.Lock().SetSize(std::stoi(argv[1]), std::stoi(argv[2]));
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
      std::istringstream words(line);
      std::string command;
      words >> command;
      auto image = channel.Lock();
      if (command == "size") {
        int width = 0, height = 0;
        words >> width >> height;
        image.SetSize(width, height);
      } else if (command == "read") {
        std::string file;
        words >> file;
        std::cout << "flag " << (image.new_frame() ? 1 : 0) << std::endl;
        if (image.new_frame()) {
          const void* data = image.data();
          std::ofstream out(file, std::ios::binary);
          if (data != nullptr) out.write(static_cast<const char*>(data), image.Bytes());
          image.set_new_frame(false);
        }
      }
      std::cout << "ok" << std::endl;
    }
  } catch (const std::exception& error) {
    std::cout << "error: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
