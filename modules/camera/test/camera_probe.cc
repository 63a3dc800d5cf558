// A consumer of the camera in a process of its own, driven by the tests. It opens the first camera
// as the program does (the runtime found through the registry, playing the scenario that
// VANTISOL_CAMERA_SCENARIO names) with a 640x480 colour stream, starts it and takes its frames on
// the camera thread, printing "ready" at the first. The input line "stall <ms>" holds the camera
// thread in the next frame for that long, as a busy consumer does; each of the five frames after
// it is printed as "frame <scene> <asked> <received>" in microseconds: the frame's scene time, when
// the frame was asked for (the one before it let go) counted from the first frame's arrival, and
// when it arrived counted from just before the camera started. The probe stops the camera and ends
// when its input ends.

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "camera/camera_realsense.h"
#include "pxc/simulation.h"
#include "utils/logging.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t Microseconds(Clock::duration duration) {
  return std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
}

}  // namespace

int main() {
  // Standard output carries the protocol alone.
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  auto cameras = vantisol::CameraRealSense::GetCameras();
  if (cameras.empty()) {
    std::cout << "no camera" << std::endl;
    return 1;
  }
  vantisol::CameraRealSense& camera = *cameras.front();
  camera.SetColorResolution({640, 480});
  std::atomic<int> stall_ms{0};
  // Read and written by the camera thread alone, but for `before_start`, written before it starts.
  const Clock::time_point before_start = Clock::now();
  Clock::time_point first, asked;
  int to_print = 0;
  vantisol::utils::ScopedConnection connection =
      camera.frame_signal_.connect([&](const std::shared_ptr<const vantisol::ImageData>&) {
        const Clock::time_point received = Clock::now();
        int32_t number = 0;
        {
          auto internal = camera.internal_camera();
          auto* truth = static_cast<PXCSimulationTruth*>(
              internal->sense_manager()->QueryInstance(PXCSimulationTruth::CUID));
          number = truth->QueryFrameNumber();
        }
        if (first == Clock::time_point{}) {
          first = received;
          std::cout << "ready" << std::endl;
        } else if (to_print > 0) {
          --to_print;
          std::cout << "frame " << int64_t(number) * 100000 / 3 << " "
                    << Microseconds(asked - first) << " " << Microseconds(received - before_start)
                    << std::endl;
        }
        if (const int ms = stall_ms.exchange(0)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(ms));
          to_print = 5;
        }
        asked = Clock::now();
      });
  camera.Start();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.rfind("stall ", 0) == 0) stall_ms = std::stoi(line.substr(6));
  }
  camera.Stop();
  return 0;
}
