#include "vantisol_client/vantisol_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "utils/logging.h"
#include "utils/process.h"
#include "utils/utils.h"
#include "vantisol_client/png_decode.h"

namespace vantisol {

#if defined(_WIN32)
const char kProgramFileName[] = "Vantisol.exe";
#else
const char kProgramFileName[] = "Vantisol";
#endif

namespace {

constexpr int64_t kFrameNanoseconds = 33333333;
constexpr int kWaitPasses = 100;
constexpr auto kWaitPause = std::chrono::milliseconds(2);

// The file in `directory`, or in the folder above when it is missing there or is a folder.
path BesideOrAbove(const path& directory, const char* name) {
  const path beside = directory / path(name);
  if (beside.exists() && !beside.is_directory()) return beside;
  return directory.parent_path() / path(name);
}

// Floor division, so that a picture larger than the output is centred too.
int HalfDown(int value) { return value >= 0 ? value / 2 : -((-value + 1) / 2); }

}  // namespace

VantisolClient::VantisolClient(const path& directory)
    : resolutions_{{640, 480}, {960, 720}, {640, 360}, {960, 540}, {1024, 675}, {1280, 720}},
      resolution_(resolutions_.front()) {
  LogToFile(true, "VantisolPlugin");
  LOG(INFO) << "Constructor()";
  directory_ = directory.empty() ? path(OwnModuleFileName()).parent_path() : directory;
}

VantisolClient::~VantisolClient() { shared_memory_.reset(); }

bool VantisolClient::StartThread() {
  LOG(INFO) << "StartThread()";
  start_failure_ = StartFailure::kNone;
  channel_refusal_.clear();
  try {
    // The old channel object unregisters first, or the new one would find its own registration.
    shared_memory_.reset();
    shared_memory_ = std::make_unique<SharedMemoryImage>(true);
  } catch (const std::exception& error) {
    return ChannelRefused(error);
  }
  time_stamp_ = 0;
  try {
    SharedMemoryImage::LockedImage image = shared_memory_->Lock();
    image.SetSize(resolution_.width, resolution_.height);
    if (!image.server_registered()) {
      // Under the header lock: the new program's registration waits until the size is written.
      const path program = BesideOrAbove(directory_, kProgramFileName);
      if (!utils::StartProcess(program.str())) {
        LOG(WARNING) << "Could not launch new server process";
        start_failure_ = StartFailure::kProgram;
        return false;
      }
      LOG(INFO) << "Started server process";
    }
  } catch (const std::exception& error) {
    return ChannelRefused(error);
  }
  return true;
}

bool VantisolClient::ChannelRefused(const std::exception& error) {
  LOG(WARNING) << "Could not create shared memory: " << error.what();
  start_failure_ = StartFailure::kChannel;
  channel_refusal_ = error.what();
  return false;
}

bool VantisolClient::StopThread() {
  LOG(INFO) << "StopThread";
  shared_memory_.reset();
  return true;
}

bool VantisolClient::FillBuffer(unsigned char* buffer, long size, int64_t* start, int64_t* end) {
  VANTISOL_CHECK(size == resolution_.width * resolution_.height * 3);
  *start = time_stamp_;
  time_stamp_ += kFrameNanoseconds;
  *end = time_stamp_;
  if (buffer == nullptr || size <= 0) return true;
  try {
    if (shared_memory_ != nullptr && WaitForPicture(buffer, size)) return true;
    if (shared_memory_ != nullptr && !waiting_for_first_frame_) {
      SharedMemoryImage::LockedImage image = shared_memory_->Lock();
      if (CopyPicture(image, buffer, static_cast<size_t>(size))) {
        image.set_new_frame(false);
        return true;
      }
    }
  } catch (const std::exception& error) {
    LOG(WARNING) << "Could not lock shared memory: " << error.what();
  }
  // No picture could be copied: the sample must not carry what the buffer held before.
  DrawLoadingPicture(buffer, size);
  return true;
}

bool VantisolClient::WaitForPicture(unsigned char* buffer, long size) {
  bool client_left = false;
  for (int pass = 0; pass < kWaitPasses; ++pass) {
    {
      SharedMemoryImage::LockedImage image = shared_memory_->Lock();
      if (!image.client_registered()) {
        client_left = true;
        break;
      }
      if (image.new_frame()) {
        // Taken either way: a picture that cannot be read now will not become readable.
        image.set_new_frame(false);
        if (!CopyPicture(image, buffer, static_cast<size_t>(size))) return false;
        waiting_for_first_frame_ = false;
        return true;
      }
    }
    // The header lock is free during the pause, so the program never waits on it for long.
    std::this_thread::sleep_for(kWaitPause);
  }
  if (!client_left) {
    LOG(WARNING) << "Didn't manage to get data, "
                 << "even though client was running...";
  }
  return false;
}

bool VantisolClient::CopyPicture(SharedMemoryImage::LockedImage& image, unsigned char* buffer,
                                 size_t size) {
  VANTISOL_CHECK(image.Bytes() == size);
  const void* data = image.data();
  if (data == nullptr) {
    if (!data_unreadable_) {
      LOG(WARNING) << "Could not map the picture data of " << image.width() << "x"
                   << image.height();
    }
    data_unreadable_ = true;
    return false;
  }
  data_unreadable_ = false;
  std::memcpy(buffer, data, std::min<size_t>(image.Bytes(), size));
  return true;
}

void VantisolClient::DrawLoadingPicture(unsigned char* buffer, long size) {
  std::memset(buffer, 255, static_cast<size_t>(size));
  if (loading_image_.empty()) {
    const path file = BesideOrAbove(directory_, "vantisol_loading.png");
    if (!DecodePngRgb(file.str(), &loading_image_, &w_, &h_)) {
      loading_image_.clear();
      w_ = h_ = 0;
    }
  }
  if (loading_image_.empty()) {
    LOG(WARNING) << "Could not load image!";
    return;
  }
  const int W = resolution_.width;
  const int H = resolution_.height;
  VANTISOL_CHECK(resolution_.width >= w_);
  VANTISOL_CHECK(resolution_.height >= h_);
  if (W <= 0 || H <= 0) return;
  // Clipped to the output and to the sample's actual length.
  const int x0 = HalfDown(W - w_);
  const int y0 = HalfDown(H - h_);
  const int first_column = std::max(0, -x0);
  const int last_column = std::min(w_, W - x0);
  if (first_column >= last_column) return;
  const size_t row_bytes = static_cast<size_t>(last_column - first_column) * 3;
  for (int j = std::max(0, -y0); j < h_ && y0 + j < H; ++j) {
    const size_t offset =
        (static_cast<size_t>(y0 + j) * W + static_cast<size_t>(x0 + first_column)) * 3;
    if (offset + row_bytes > static_cast<size_t>(size)) break;
    std::memcpy(buffer + offset, &loading_image_[(static_cast<size_t>(j) * w_ + first_column) * 3],
                row_bytes);
  }
}

std::unique_ptr<VirtualCamera> MakeVantisolClient() { return std::make_unique<VantisolClient>(); }

}  // namespace vantisol
