#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "utils/path.h"
#include "utils/shared_memory_image.h"
#include "vantisol_client/virtual_camera.h"

namespace vantisol {

// The plug-in's side of the frame channel: asks the program for a picture size, starts the program
// when none serves the channel, and copies the program's newest picture into each sample. It runs
// entirely on the calling pin's threads.
class VantisolClient : public VirtualCamera {
 public:
  // `directory` is where the program and the loading picture are looked for (and the folder above
  // it); empty means the folder of the library or program that holds this code.
  explicit VantisolClient(const path& directory = path());
  ~VantisolClient() override;
  VantisolClient(const VantisolClient&) = delete;
  VantisolClient& operator=(const VantisolClient&) = delete;

  std::vector<Size> resolutions() const override { return resolutions_; }
  void set_resolution(Size size) override { resolution_ = size; }
  Size resolution() const override { return resolution_; }
  bool StartThread() override;
  bool StopThread() override;
  bool FillBuffer(unsigned char* buffer, long size, int64_t* start, int64_t* end) override;

  const path& directory() const { return directory_; }

  // Why the last StartThread failed, for a caller that tells its user.
  enum class StartFailure { kNone, kChannel, kProgram };
  StartFailure start_failure() const { return start_failure_; }
  // The channel's own text when it refused, e.g. "Already a client running!".
  const std::string& channel_refusal() const { return channel_refusal_; }

 private:
  // Waits up to 100 passes of 2 ms for a new picture and copies it; false when none came or it
  // could not be read.
  bool WaitForPicture(unsigned char* buffer, long size);
  // Copies at most what both the data block and the sample hold; false when the block cannot be
  // mapped.
  bool CopyPicture(SharedMemoryImage::LockedImage& image, unsigned char* buffer, size_t size);
  void DrawLoadingPicture(unsigned char* buffer, long size);
  // Logs and keeps the channel's refusal of a start; false.
  bool ChannelRefused(const std::exception& error);

  std::unique_ptr<SharedMemoryImage> shared_memory_;
  std::vector<Size> resolutions_;
  Size resolution_;
  int64_t time_stamp_ = 0;
  path directory_;
  std::vector<unsigned char> loading_image_;
  int w_ = 0;
  int h_ = 0;
  bool waiting_for_first_frame_ = true;
  // The data block could not be mapped at the last attempt (warned once until it can again).
  bool data_unreadable_ = false;
  StartFailure start_failure_ = StartFailure::kNone;
  std::string channel_refusal_;
};

// The frame source that the virtual camera's pin owns.
std::unique_ptr<VirtualCamera> MakeVantisolClient();

// The program's file name.
extern const char kProgramFileName[];

}  // namespace vantisol
