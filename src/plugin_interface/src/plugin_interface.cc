#include "plugin_interface/plugin_interface.h"

#include <cstring>
#include <optional>
#include <stdexcept>

#include "opengl/locked_texture.h"
#include "utils/logging.h"

namespace vantisol {

PluginInterface::PluginInterface() : shared_image_(false) {
  LOG(INFO) << "PluginInterface";
  auto image = shared_image_.Lock();
  // A client that was waiting before the program started: no signal, the window asks itself.
  if (image.ClientAlive()) requested_size_ = Size{image.width(), image.height()};
}

PluginInterface::~PluginInterface() { LOG(INFO) << "~PluginInterface"; }

Size PluginInterface::requested_size() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return requested_size_;
}

void PluginInterface::SetRequestedSize(Size size) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (size == requested_size_) return;
  requested_size_ = size;
  emit SizeChanged(QSize(size.width, size.height));
}

void PluginInterface::Process(std::shared_ptr<LockedTexture> texture, LatencyCalculator& latency) {
  latency.Checkpoint("PluginInterface Init");
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::optional<SharedMemoryImage::LockedImage> image;
  try {
    image.emplace(shared_image_.Lock());
  } catch (const std::runtime_error&) {
    return;  // logged by the channel; the next frame tries again
  }
  if (!image->ClientAlive()) {
    SetRequestedSize(Size{-1, -1});
    return;
  }
  // Released before the channel (declared after it), which leaves the fence for the next reader.
  LockedTexture::Loan output = texture->Lock();
  const Size size{image->width(), image->height()};
  SetRequestedSize(size);
  if (output->size() != size) return;

  latency.Checkpoint("PluginInterface Download");
  const Image picture = output->Download(Image::Format::kBGR);
  latency.Checkpoint("PluginInterface Copy");
  auto* block = static_cast<uint8_t*>(image->data());
  if (block == nullptr) {
    if (!unmapped_reported_) LOG(WARNING) << "Could not map the frame data for " << size;
    unmapped_reported_ = true;
    return;
  }
  unmapped_reported_ = false;
  const size_t row = size_t(size.width) * 3;
  for (int i = 0; i < size.height; ++i) {
    std::memcpy(block + size_t(i) * row, picture.data.get() + size_t(size.height - 1 - i) * row,
                row);
  }
  image->set_new_frame(true);
}

}  // namespace vantisol
