#pragma once

// The simulated camera device: its description, stream profiles, properties and lenses.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include "image.h"
#include "pxc/pxc.h"
#include "scene.h"

namespace pxcsim {

void Name(wchar_t* out, size_t size, const wchar_t* text);
PXCCapture::DeviceModel Model(const std::string& name);

inline constexpr PXCSizeI32 kColorSizes[] = {{640, 480}, {960, 540}, {1280, 720}, {1920, 1080}};

Camera ColorCamera(int width, int height);
// The depth lens as calibrated at 640x480, scaled to the mode's size.
Camera DepthCamera(PXCSizeI32 size);

class Device : public Object<PXCCapture::Device> {
 public:
  Device(const Scenario& scenario, PXCCapture::DeviceModel model, int index)
      : scenario_(scenario), model_(model), index_(index) {
    ResetProperties(PXCCapture::STREAM_TYPE_ANY);
  }
  pxcStatus QueryDeviceInfo(PXCCapture::DeviceInfo* info) override {
    std::memset(info, 0, sizeof(*info));
    Name(info->name, 224,
         model_ == PXCCapture::DEVICE_MODEL_SR300  ? L"Simulated Depth Camera SR300"
         : model_ == PXCCapture::DEVICE_MODEL_F200 ? L"Simulated Depth Camera F200"
                                                   : L"Simulated Webcam");
    info->model = model_;
    info->didx = index_;
    return PXC_STATUS_NO_ERROR;
  }
  // One profile per colour size and depth mode, colour sizes outermost.
  int32_t QueryStreamProfileSetNum(int32_t scope) override {
    return (scope & 3) ? int32_t(std::size(kColorSizes) * scenario_.depth_sizes.size()) : 0;
  }
  pxcStatus QueryStreamProfileSet(int32_t scope, int32_t index, StreamProfileSet* set) override {
    if (!(scope & 3) || index < 0 || index >= QueryStreamProfileSetNum(scope))
      return PXC_STATUS_ITEM_UNAVAILABLE;
    const int32_t modes = int32_t(scenario_.depth_sizes.size());
    const PXCSizeI32 color = kColorSizes[index / modes];
    const auto& depth = scenario_.depth_sizes[index % modes];
    std::memset(set, 0, sizeof(*set));
    set->color.imageInfo = {color.width, color.height, PXCImage::PIXEL_FORMAT_YUY2};
    set->color.frameRate = {30, 30};
    set->depth.imageInfo = {depth[0], depth[1], PXCImage::PIXEL_FORMAT_DEPTH};
    set->depth.frameRate = {30, 30};
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus SetProperty(PXCCapture::Property label, float value) override {
    auto it = properties_.find(label);
    if (it == properties_.end()) return PXC_STATUS_PARAM_UNSUPPORTED;
    it->second = value;
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus QueryProperty(PXCCapture::Property label, float* value) override {
    auto it = properties_.find(label);
    if (scenario_.fail_property_queries || it == properties_.end())
      return PXC_STATUS_PARAM_UNSUPPORTED;
    *value = it->second;
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus QueryPropertyInfo(PXCCapture::Property label, PropertyInfo* info) override {
    if (scenario_.fail_property_queries) return PXC_STATUS_PARAM_UNSUPPORTED;
    if (label == PXCCapture::PROPERTY_COLOR_BRIGHTNESS)
      *info = {{-64, 64}, 1, 0};
    else if (label == PXCCapture::PROPERTY_COLOR_GAIN)
      *info = {{0, 128}, 1, 64};
    else
      return PXC_STATUS_PARAM_UNSUPPORTED;
    return PXC_STATUS_NO_ERROR;
  }
  void ResetProperties(PXCCapture::StreamType) override {
    properties_ = {
        {PXCCapture::PROPERTY_COLOR_BRIGHTNESS, 0},   {PXCCapture::PROPERTY_COLOR_GAIN, 64},
        {PXCCapture::PROPERTY_IVCAM_LASER_POWER, 16}, {PXCCapture::PROPERTY_DEVICE_MODE, 1},
        {PXCCapture::PROPERTY_IVCAM_ACCURACY, 5},     {PXCCapture::PROPERTY_IVCAM_FILTER, 4}};
  }
  PXCProjection* CreateProjection() override;

  // The colour properties' effect on the rendered exposure; 1 at their defaults.
  float exposure() const {
    const float brightness = properties_.at(PXCCapture::PROPERTY_COLOR_BRIGHTNESS);
    const float gain = properties_.at(PXCCapture::PROPERTY_COLOR_GAIN);
    return std::max(0.05f, (1 + brightness / 100) * (0.5f + gain / 128));
  }
  void set_cameras(const Camera* color, const Camera* depth) {
    color_ = color;
    depth_ = depth;
  }
  const Camera* color() const { return color_; }
  const Camera* depth() const { return depth_; }
  void set_pool(WorkerPool* pool) { pool_ = pool; }

 private:
  const Scenario scenario_;
  PXCCapture::DeviceModel model_;
  int index_;
  std::map<int32_t, float> properties_;
  const Camera* color_ = nullptr;
  const Camera* depth_ = nullptr;
  WorkerPool* pool_ = nullptr;  // the session's, while a sense manager runs the device
};

class Capture : public Object<PXCCapture> {
 public:
  explicit Capture(const Scenario& scenario) : scenario_(scenario) {}
  pxcStatus QueryDeviceInfo(int32_t didx, DeviceInfo* info) override {
    if (didx < 0 || didx >= int32_t(scenario_.devices.size())) return PXC_STATUS_ITEM_UNAVAILABLE;
    pxcsim::Device device(scenario_, Model(scenario_.devices[didx]), didx);
    return device.QueryDeviceInfo(info);
  }
  Device* CreateDevice(int32_t didx) override {
    if (didx < 0 || didx >= int32_t(scenario_.devices.size())) return nullptr;
    return new pxcsim::Device(scenario_, Model(scenario_.devices[didx]), didx);
  }

 private:
  const Scenario scenario_;
};

}  // namespace pxcsim
