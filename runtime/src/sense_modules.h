#pragma once

// The face and 3D segmentation modules: what the sense manager's current frame shows.

#include <cstdint>
#include <vector>

#include "image.h"
#include "pxc/pxc.h"
#include "scene.h"
#include "worker_pool.h"

namespace pxcsim {

// Colour up to 1280x720 for both modules, depth unlimited.
class VideoModule : public PXCVideoModule {
 public:
  pxcStatus QueryCaptureProfile(int32_t index, DataDesc* desc) override {
    if (index != 0) return PXC_STATUS_ITEM_UNAVAILABLE;
    *desc = {{{0, 0}, {1280, 720}}, {{0, 0}, {0, 0}}};
    return PXC_STATUS_NO_ERROR;
  }
};

class FaceModule : public Object<PXCFaceModule>, public VideoModule {
 public:
  explicit FaceModule(const std::vector<FaceOutput>* current) : current_(current) {}
  void* QueryInstance(pxcUID cuid) override {
    if (cuid == PXCFaceModule::CUID) return static_cast<PXCFaceModule*>(this);
    if (cuid == PXCVideoModule::CUID) return static_cast<PXCVideoModule*>(this);
    return nullptr;
  }
  void Release() override {}  // owned by the sense manager
  PXCFaceConfiguration* CreateActiveConfiguration() override;
  PXCFaceData* CreateOutput() override;

 private:
  const std::vector<FaceOutput>* current_;
};

class SegmentationModule : public Object<PXC3DSeg>, public VideoModule {
 public:
  void* QueryInstance(pxcUID cuid) override {
    if (cuid == PXC3DSeg::CUID) return static_cast<PXC3DSeg*>(this);
    if (cuid == PXCVideoModule::CUID) return static_cast<PXCVideoModule*>(this);
    return nullptr;
  }
  void Release() override {}
  PXCImage* AcquireSegmentedImage() override;
  void Set(const Frame* frame, int width, int height, int64_t time_stamp) {
    frame_ = frame, width_ = width, height_ = height, time_stamp_ = time_stamp;
  }
  bool paused_ = false;
  WorkerPool* pool_ = nullptr;

 private:
  const Frame* frame_ = nullptr;
  int width_ = 0, height_ = 0;
  int64_t time_stamp_ = 0;
};

}  // namespace pxcsim
