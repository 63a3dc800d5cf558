#include "channel_client.h"

#include <algorithm>
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
namespace {

// Rows arrive bottom-up; a PNG's first row is the top.
void WriteUpright(std::vector<uint8_t>& frame, int width, int height, const std::string& file) {
  cv::Mat bottom_up(height, width, CV_8UC3, frame.data()), upright;
  cv::flip(bottom_up, upright, 0);
  cv::imwrite(file, upright);
}

}  // namespace

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
  // Frames taken in each whole second since the first frame.
  std::vector<int> per_second;
  std::chrono::steady_clock::time_point first;
  for (bool last = false; !last;) {
    // Read once more after the input has ended: the frame written last is then taken too.
    last = finished;
    {
      auto image = channel.Lock();
      if (image.new_frame() && image.width() == width && image.height() == height) {
        const void* data = image.data();
        if (data != nullptr) {
          std::memcpy(frame.data(), data, bytes);
          image.set_new_frame(false);
          const auto now = std::chrono::steady_clock::now();
          if (received++ == 0) first = now;
          const size_t second = size_t(std::chrono::duration<double>(now - first).count());
          if (per_second.size() <= second) per_second.resize(second + 1, 0);
          ++per_second[second];
        }
      }
    }
    if (png_every > 0 && received > saved && received % png_every == 0) {
      saved = received;
      char name[64];
      std::snprintf(name, sizeof(name), "/client_%05d.png", received);
      WriteUpright(frame, width, height, folder + name);
    }
    if (!last) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  input.join();
  if (png_every > 0 && received > 0)
    WriteUpright(frame, width, height, folder + "/client_last.png");
  if (received > 0) mean = cv::mean(cv::Mat(1, int(bytes), CV_8UC1, frame.data()))[0];
  std::cout << "received " << received << " frames; mean pixel value of the last one " << mean;
  // The last second is cut short by the end of the run; the first ten hold the start-up.
  if (per_second.size() > 12) {
    per_second.pop_back();
    per_second.erase(per_second.begin(), per_second.begin() + 10);
    std::sort(per_second.begin(), per_second.end());
    std::cout << "; frames per second over " << per_second.size() << " s: min "
              << per_second.front() << " median " << per_second[per_second.size() / 2] << " max "
              << per_second.back();
  }
  std::cout << std::endl;
  return 0;
}

}  // namespace vantisol::tools
