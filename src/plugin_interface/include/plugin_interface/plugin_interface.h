#pragma once

#include <QObject>
#include <QSize>
#include <memory>
#include <mutex>

#include "utils/camera_image.h"
#include "utils/latency_calculator.h"
#include "utils/shared_memory_image.h"

namespace vantisol {

// Declared only, so that this header stays free of the GL bindings: the window that includes it
// also includes Qt's own GL headers.
class LockedTexture;

// The program's side of the frame channel to the virtual camera: registers as the channel's
// server, follows the size the client asks for, and copies each finished frame of that size into
// the shared data block as bottom-up BGR rows.
class PluginInterface : public QObject {
  Q_OBJECT

 public:
  // Throws std::runtime_error when the channel cannot be served (e.g. another server runs).
  PluginInterface();
  ~PluginInterface() override;

  // Render thread, context current: publishes the texture when its size is the requested one.
  void Process(std::shared_ptr<LockedTexture> texture, LatencyCalculator& latency);

  // (-1, -1) while no client is attached.
  Size requested_size();
  void SetRequestedSize(Size size);

 signals:
  // Emitted on the thread that noticed the change, once per change.
  void SizeChanged(QSize size);

 private:
  SharedMemoryImage shared_image_;
  Size requested_size_{-1, -1};
  std::recursive_mutex mutex_;
  // A block that cannot be mapped is reported once per occurrence, not once per frame.
  bool unmapped_reported_ = false;
};

}  // namespace vantisol
