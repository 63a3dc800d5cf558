#include "channel_client.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <vector>

#include "utils/shared_memory_image.h"

namespace vantisol::tools {

int RunChannelClient(int width, int height, int png_every, const std::string& folder) {
  SharedMemoryImage channel(true);
  channel.Lock().SetSize(width, height);
  std::cout << "ready" << std::endl;
  std::atomic<bool> finished{false};
  std::thread input([&] {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    finished = true;
  });
  const size_t bytes = size_t(width) * height * 3;
  std::vector<uint8_t> frame(bytes);
  int received = 0, saved = 0;
  double mean = 0;
  while (!finished) {
    {
      auto image = channel.Lock();
      if (image.new_frame() && image.width() == width && image.height() == height) {
        const void* data = image.data();
        if (data != nullptr) {
          std::memcpy(frame.data(), data, bytes);
          image.set_new_frame(false);
          ++received;
        }
      }
    }
    if (png_every > 0 && received > saved && received % png_every == 0) {
      saved = received;
      // Rows arrive bottom-up; a PNG's first row is the top.
      cv::Mat bottom_up(height, width, CV_8UC3, frame.data()), upright;
      cv::flip(bottom_up, upright, 0);
      char name[64];
      std::snprintf(name, sizeof(name), "/client_%05d.png", received);
      cv::imwrite(folder + name, upright);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  input.join();
  if (received > 0) mean = cv::mean(cv::Mat(1, int(bytes), CV_8UC1, frame.data()))[0];
  std::cout << "received " << received << " mean " << mean << std::endl;
  return 0;
}

}  // namespace vantisol::tools
