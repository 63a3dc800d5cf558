// The project's simulated depth-camera runtime: a live camera looking at a scripted scene.

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "face_mesh.h"
#include "pxc/pxc.h"
#include "pxc/simulation.h"
#include "recording.h"
#include "scene.h"

namespace pxcsim {
namespace {

constexpr int64_t kFrameTicks = 333333;               // 100-ns units at 30 fps
constexpr int64_t kClockOrigin = 131000000000000000;  // an arbitrary device clock start
constexpr int64_t kDepthLead = 2000;                  // depth exposes 0.2 ms before colour

template <typename Interface>
class Object : public Interface {
 public:
  void* QueryInstance(pxcUID) override { return nullptr; }
  void Release() override { delete this; }
};

// An image that owns its pixels.
class Image : public Object<PXCImage> {
 public:
  // Zeroed, unless whoever makes it writes every byte.
  enum Fill { kZeroed, kWrittenWhole };
  Image(int width, int height, PixelFormat format, int pitch, int64_t time_stamp,
        Fill fill = kZeroed)
      : info_{width, height, format},
        pitch_(pitch),
        time_stamp_(time_stamp),
        pixels_(fill == kZeroed ? new uint8_t[size_t(pitch) * height]()
                                : new uint8_t[size_t(pitch) * height]) {}
  ImageInfo QueryInfo() override { return info_; }
  pxcI64 QueryTimeStamp() override { return time_stamp_; }
  pxcStatus AcquireAccess(Access access, PixelFormat format, ImageData* data) override {
    if (access != ACCESS_READ) return PXC_STATUS_PARAM_UNSUPPORTED;
    std::memset(data, 0, sizeof(*data));
    if (format == PIXEL_FORMAT_ANY || format == info_.format) {
      data->format = info_.format;
      data->pitches[0] = pitch_;
      data->planes[0] = pixels_.get();
      return PXC_STATUS_NO_ERROR;
    }
    if (format == PIXEL_FORMAT_RGB24 && info_.format == PIXEL_FORMAT_YUY2) {
      converted_.resize(size_t(info_.width) * info_.height * 3);
      for (int y = 0; y < info_.height; ++y) {
        const uint8_t* s = pixels_.get() + size_t(y) * pitch_;
        uint8_t* d = converted_.data() + size_t(y) * info_.width * 3;
        for (int x = 0; x < info_.width; ++x) {
          const float luma = s[x * 2], u = s[(x & ~1) * 2 + 1] - 128.0f,
                      v = s[(x & ~1) * 2 + 3] - 128.0f;
          auto clamp = [](float c) { return uint8_t(c < 0 ? 0 : c > 255 ? 255 : c); };
          d[x * 3] = clamp(luma + 1.772f * u);
          d[x * 3 + 1] = clamp(luma - 0.344f * u - 0.714f * v);
          d[x * 3 + 2] = clamp(luma + 1.402f * v);
        }
      }
      data->format = format;
      data->pitches[0] = info_.width * 3;
      data->planes[0] = converted_.data();
      return PXC_STATUS_NO_ERROR;
    }
    return PXC_STATUS_PARAM_UNSUPPORTED;
  }
  pxcStatus ReleaseAccess(ImageData*) override { return PXC_STATUS_NO_ERROR; }

  uint8_t* pixels() { return pixels_.get(); }
  int pitch() const { return pitch_; }
  void set_time_stamp(int64_t time_stamp) { time_stamp_ = time_stamp; }

 private:
  ImageInfo info_;
  int pitch_;
  int64_t time_stamp_;
  std::unique_ptr<uint8_t[]> pixels_;
  std::vector<uint8_t> converted_;
};

void Name(wchar_t* out, size_t size, const wchar_t* text) {
  std::wcsncpy(out, text, size - 1);
  out[size - 1] = 0;
}

PXCCapture::DeviceModel Model(const std::string& name) {
  if (name == "SR300") return PXCCapture::DEVICE_MODEL_SR300;
  if (name == "F200") return PXCCapture::DEVICE_MODEL_F200;
  return PXCCapture::DEVICE_MODEL_GENERIC;
}

const PXCSizeI32 kColorSizes[] = {{640, 480}, {960, 540}, {1280, 720}, {1920, 1080}};

Camera ColorCamera(int width, int height) {
  Camera c;
  c.width = width, c.height = height;
  c.fx = c.fy = width * 0.741f;
  c.cx = (width - 1) * 0.5f, c.cy = (height - 1) * 0.5f;
  return c;
}

// The depth lens as calibrated at 640x480, scaled to the mode's size.
Camera DepthCamera(PXCSizeI32 size) {
  Camera c;
  c.width = size.width, c.height = size.height;
  const float sx = size.width / 640.0f, sy = size.height / 480.0f;
  c.fx = 476.2f * sx, c.fy = 476.9f * sy, c.cx = 313.7f * sx, c.cy = 245.1f * sy;
  c.k1 = 0.14f, c.k2 = -0.21f, c.k3 = 0.05f, c.p1 = 0.0012f, c.p2 = -0.0008f;
  c.position = {25, 0, 0};
  return c;
}

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

class Calibration : public Object<PXCCalibration> {
 public:
  explicit Calibration(const Device* device) : device_(device) {}
  pxcStatus QueryStreamProjectionParameters(PXCCapture::StreamType stream, StreamCalibration* c,
                                            StreamTransformation* t) override {
    const Camera* camera = stream == PXCCapture::STREAM_TYPE_COLOR   ? device_->color()
                           : stream == PXCCapture::STREAM_TYPE_DEPTH ? device_->depth()
                                                                     : nullptr;
    if (!camera) return PXC_STATUS_PARAM_UNSUPPORTED;
    *c = {{camera->fx, camera->fy},
          {camera->cx, camera->cy},
          {camera->k1, camera->k2, camera->k3},
          {camera->p1, camera->p2}};
    // World is the colour camera; a stream's eye = R * world + T.
    std::memset(t, 0, sizeof(*t));
    for (int i = 0; i < 3; ++i) t->translation[i] = -camera->position[i];
    t->rotation[0][0] = t->rotation[1][1] = t->rotation[2][2] = 1;
    return PXC_STATUS_NO_ERROR;
  }

 private:
  const Device* device_;
};

class Projection : public Object<PXCProjection> {
 public:
  explicit Projection(const Device* device) : calibration_(new Calibration(device)) {}
  ~Projection() override { calibration_->Release(); }
  void* QueryInstance(pxcUID cuid) override {
    return cuid == PXCCalibration::CUID ? static_cast<PXCCalibration*>(calibration_) : nullptr;
  }
  PXCImage* CreateDepthImageMappedToColor(PXCImage* depth, PXCImage* color) override;

  void set_cameras(const Camera* color, const Camera* depth) {
    color_ = color;
    depth_ = depth;
  }
  void set_pool(WorkerPool* pool) { pool_ = pool; }

 private:
  Calibration* calibration_;
  const Camera* color_ = nullptr;
  const Camera* depth_ = nullptr;
  WorkerPool* pool_ = nullptr;  // null: mapped on the calling thread
  friend class Device;
};

PXCProjection* Device::CreateProjection() {
  auto* p = new Projection(this);
  p->set_cameras(color_, depth_);
  p->set_pool(pool_);
  return p;
}

PXCImage* Projection::CreateDepthImageMappedToColor(PXCImage* depth_image, PXCImage* color_image) {
  if (!depth_image || !color_image || !color_ || !depth_) return nullptr;
  const auto ci = color_image->QueryInfo();
  const auto di = depth_image->QueryInfo();
  PXCImage::ImageData in;
  if (depth_image->AcquireAccess(PXCImage::ACCESS_READ, PXCImage::PIXEL_FORMAT_DEPTH, &in) != 0)
    return nullptr;
  auto* out = new Image(ci.width, ci.height, PXCImage::PIXEL_FORMAT_DEPTH, ci.width * 2,
                        depth_image->QueryTimeStamp(), Image::kWrittenWhole);
  auto* target = reinterpret_cast<uint16_t*>(out->pixels());
  std::fill(target, target + size_t(ci.width) * ci.height, uint16_t(0));
  // Each depth sample covers the colour pixels its footprint reaches; the nearest wins, so the
  // samples may be drawn in any order: first every footprint, then bands of colour rows apart.
  struct Footprint {
    uint16_t x0, x1, y0, y1, z;  // z 0: covers nothing
  };
  // Each one written below, so not zeroed first.
  std::unique_ptr<Footprint[]> prints(new Footprint[size_t(di.width) * di.height]);
  std::vector<std::array<int, 2>> rows(size_t(di.height));  // colour rows each depth row covers
  const float scale = color_->fx / depth_->fx * 0.5f + 0.5f;
  WorkerPool serial(1);
  WorkerPool& pool = pool_ ? *pool_ : serial;
  pool.For(di.height, [&](int64_t begin, int64_t end) {
    for (int v = int(begin); v < int(end); ++v) {
      const auto* row = reinterpret_cast<const uint16_t*>(in.planes[0] + size_t(v) * in.pitches[0]);
      auto& covered = rows[size_t(v)];
      covered = {ci.height, 0};
      for (int u = 0; u < di.width; ++u) {
        const size_t i = size_t(v) * di.width + u;
        Footprint& print = prints[i];
        print = {};
        const float z = row[u];
        if (z == 0) continue;
        const float p[3] = {depth_->rays[i * 2] * z + depth_->position[0],
                            depth_->rays[i * 2 + 1] * z + depth_->position[1],
                            z + depth_->position[2]};
        float cu, cv;
        if (!color_->Project(p, &cu, &cv)) continue;
        const int u0 = int(std::floor(cu - scale)), u1 = int(std::ceil(cu + scale));
        const int v0 = int(std::floor(cv - scale)), v1 = int(std::ceil(cv + scale));
        const int x0 = std::max(0, u0), x1 = std::min(ci.width, u1);
        const int y0 = std::max(0, v0), y1 = std::min(ci.height, v1);
        if (x0 >= x1 || y0 >= y1) continue;
        print = {uint16_t(x0), uint16_t(x1), uint16_t(y0), uint16_t(y1), uint16_t(p[2] + 0.5f)};
        covered = {std::min(covered[0], y0), std::max(covered[1], y1)};
      }
    }
  });
  constexpr int kBand = 16;
  pool.For((ci.height + kBand - 1) / kBand, 1, [&](int64_t begin, int64_t end) {
    for (int band = int(begin); band < int(end); ++band) {
      const int top = band * kBand, bottom = std::min(ci.height, top + kBand);
      for (int v = 0; v < di.height; ++v) {
        if (rows[size_t(v)][0] >= bottom || rows[size_t(v)][1] <= top) continue;
        for (int u = 0; u < di.width; ++u) {
          const Footprint& print = prints[size_t(v) * di.width + u];
          if (print.z == 0) continue;
          for (int y = std::max<int>(top, print.y0); y < std::min<int>(bottom, print.y1); ++y)
            for (int x = print.x0; x < print.x1; ++x) {
              uint16_t& t = target[size_t(y) * ci.width + x];
              if (t == 0 || print.z < t) t = print.z;
            }
        }
      }
    }
  });
  depth_image->ReleaseAccess(&in);
  return out;
}

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

struct FrameState;

class FaceData : public Object<PXCFaceData> {
 public:
  explicit FaceData(const std::vector<FaceOutput>* current) : current_(current) {}
  pxcStatus Update() override {
    faces_.clear();
    for (const auto& f : *current_) faces_.push_back(std::make_unique<Face>(f));
    return PXC_STATUS_NO_ERROR;
  }
  int32_t QueryNumberOfDetectedFaces() override { return int32_t(faces_.size()); }
  PXCFaceData::Face* QueryFaceByIndex(int32_t index) override {
    return index >= 0 && index < int32_t(faces_.size()) ? faces_[index].get() : nullptr;
  }

 private:
  class Face : public PXCFaceData::Face,
               public DetectionData,
               public PoseData,
               public LandmarksData {
   public:
    explicit Face(const FaceOutput& f) : f_(f) {}
    int32_t QueryUserID() override { return f_.user_id; }
    DetectionData* QueryDetection() override { return this; }
    PoseData* QueryPose() override { return this; }
    LandmarksData* QueryLandmarks() override { return this; }
    pxcBool QueryBoundingRect(PXCRectI32* rect) override {
      *rect = {f_.x, f_.y, f_.w, f_.h};
      return 1;
    }
    pxcBool QueryFaceAverageDepth(float* depth) override {
      *depth = f_.average_depth;
      return f_.average_depth > 0;
    }
    pxcBool QueryPoseAngles(PoseEulerAngles* angles) override {
      // The runtime's pitch and roll turn the other way round than the head's own.
      *angles = {f_.yaw, -f_.pitch, -f_.roll};
      return std::fabs(f_.yaw) < 50 ? 1 : 0;
    }
    pxcBool QueryHeadPosition(HeadPosition* position) override {
      position->headCenter = {f_.head[0], -f_.head[1], f_.head[2]};
      return 1;
    }
    int32_t QueryNumPoints() override { return int32_t(f_.landmarks.size()); }
    pxcBool QueryPoints(LandmarkPoint* points) override {
      for (size_t i = 0; i < f_.landmarks.size(); ++i) {
        const Landmark& l = f_.landmarks[i];
        points[i] = {l.confidence,
                     l.confidence,
                     {l.camera[0] / 1000, -l.camera[1] / 1000, l.camera[2] / 1000},
                     {l.u, l.v}};
      }
      return 1;
    }

   private:
    FaceOutput f_;
  };
  const std::vector<FaceOutput>* current_;
  std::vector<std::unique_ptr<Face>> faces_;
};

class FaceConfiguration : public Object<PXCFaceConfiguration> {
 public:
  void RestoreDefaults() override {
    detection = {false, 1};
    landmarks = {false, 1, 0};
    pose = {false};
    strategy = 0;
  }
  pxcStatus ApplyChanges() override {
    return detection.maxTrackedFaces >= 1 && detection.maxTrackedFaces <= 4 &&
                   landmarks.maxTrackedFaces >= 1 && landmarks.maxTrackedFaces <= 4
               ? PXC_STATUS_NO_ERROR
               : PXC_STATUS_PARAM_UNSUPPORTED;
  }
};

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
  PXCFaceConfiguration* CreateActiveConfiguration() override { return new FaceConfiguration; }
  PXCFaceData* CreateOutput() override { return new FaceData(current_); }

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
  PXCImage* AcquireSegmentedImage() override {
    if (paused_ || !frame_ || frame_->color_bgr.empty()) return nullptr;
    auto* image = new Image(width_, height_, PXCImage::PIXEL_FORMAT_RGB32, width_ * 4, time_stamp_,
                            Image::kWrittenWhole);
    uint8_t* d = image->pixels();
    pool_->For(int64_t(width_) * height_, [&](int64_t begin, int64_t end) {
      // Locals: a byte store could otherwise alias the frame's vectors.
      const uint8_t* bgr = frame_->color_bgr.data();
      const uint8_t* person = frame_->person.data();
      for (int64_t i = begin; i < end; ++i) {
        d[i * 4] = bgr[i * 3];
        d[i * 4 + 1] = bgr[i * 3 + 1];
        d[i * 4 + 2] = bgr[i * 3 + 2];
        d[i * 4 + 3] = person[i] ? 255 : 0;
      }
    });
    return image;
  }
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

class SenseManager;

class CaptureManager : public Object<PXCCaptureManager> {
 public:
  explicit CaptureManager(SenseManager* owner) : owner_(owner) {}
  void Release() override {}
  pxcStatus SetFileName(const wchar_t* file, bool record) override;
  void SetPause(bool pause) override;
  void SetRealtime(bool realtime) override;
  void SetFrameByIndex(int32_t frame) override;
  int32_t QueryFrameIndex() override;
  int32_t QueryNumberOfFrames() override;
  PXCCapture::Device* QueryDevice() override;

 private:
  SenseManager* owner_;
};

class SenseManager : public Object<PXCSenseManager>, public PXCSimulationTruth {
 public:
  SenseManager(class Session* session, const Scenario& scenario);
  ~SenseManager() override;

  void* QueryInstance(pxcUID cuid) override {
    if (cuid == PXCSenseManager::CUID) return static_cast<PXCSenseManager*>(this);
    if (cuid == PXCSimulationTruth::CUID) return static_cast<PXCSimulationTruth*>(this);
    return nullptr;
  }
  void Release() override { delete this; }
  PXCSession* QuerySession() override;
  std::shared_ptr<const FaceMesh> FaceModel();
  WorkerPool& Pool();
  ViewCache& Views();
  PXCCaptureManager* QueryCaptureManager() override { return &capture_manager_; }
  pxcStatus EnableStream(PXCCapture::StreamType type, int32_t width, int32_t height, float,
                         int32_t) override {
    if (type == PXCCapture::STREAM_TYPE_COLOR && width == 0 && height == 0) {
      color_size_ = {1280, 720};  // any size: the largest every module takes
      return PXC_STATUS_NO_ERROR;
    }
    if (type == PXCCapture::STREAM_TYPE_COLOR) {
      for (const auto& s : kColorSizes)
        if (s.width == width && s.height == height) {
          color_size_ = s;
          return PXC_STATUS_NO_ERROR;
        }
      return PXC_STATUS_PARAM_UNSUPPORTED;
    }
    if (type == PXCCapture::STREAM_TYPE_DEPTH) {
      for (const auto& s : scenario_.depth_sizes)
        if (s[0] == width && s[1] == height) {
          depth_size_ = {width, height};
          depth_on_ = true;
          return PXC_STATUS_NO_ERROR;
        }
    }
    return PXC_STATUS_PARAM_UNSUPPORTED;
  }
  pxcStatus EnableModule(pxcUID cuid) override {
    if (cuid == PXCFaceModule::CUID)
      face_on_ = true;
    else if (cuid == PXC3DSeg::CUID)
      segmentation_on_ = true;
    else
      return PXC_STATUS_FEATURE_UNSUPPORTED;
    return PXC_STATUS_NO_ERROR;
  }
  PXCBase* QueryModule(pxcUID cuid) override {
    if (cuid == PXCFaceModule::CUID && face_on_) return static_cast<PXCFaceModule*>(&face_);
    if (cuid == PXC3DSeg::CUID && segmentation_on_) return static_cast<PXC3DSeg*>(&segmentation_);
    return nullptr;
  }
  void PauseModule(pxcUID cuid, bool pause) override {
    if (cuid == PXC3DSeg::CUID) segmentation_.paused_ = pause;
  }
  pxcStatus Init() override {
    if (playback_failed_) return PXC_STATUS_ITEM_UNAVAILABLE;
    if (reader_.is_open()) {
      color_size_ = {recording_.color_width, recording_.color_height};
      depth_on_ = recording_.depth_width > 0;
      depth_size_ = {recording_.depth_width, recording_.depth_height};
    }
    if (color_size_.width == 0) return PXC_STATUS_PARAM_UNSUPPORTED;
    if ((face_on_ || segmentation_on_) && color_size_.width > 1280)
      return PXC_STATUS_PARAM_UNSUPPORTED;
    size_t index = 0;
    while (index < scenario_.devices.size() &&
           Model(scenario_.devices[index]) == PXCCapture::DEVICE_MODEL_GENERIC)
      ++index;
    if (index == scenario_.devices.size()) return PXC_STATUS_DEVICE_FAILED;
    device_.reset(new Device(scenario_, Model(scenario_.devices[index]), int(index)));
    WorkerPool& pool = Pool();
    scene_ = std::make_unique<Scene>(
        scenario_, Views().Get(ColorCamera(color_size_.width, color_size_.height), true, pool),
        Views().Get(DepthCamera(depth_size_), false, pool), &pool, FaceModel());
    device_->set_cameras(&scene_->color(), &scene_->depth());
    device_->set_pool(&pool);
    number_ = 0;
    start_ = std::chrono::steady_clock::now();
    if (!record_file_.empty()) {
      recording_ = {color_size_.width, color_size_.height, depth_on_ ? depth_size_.width : 0,
                    depth_on_ ? depth_size_.height : 0};
      writer_.open(record_file_, std::ios::binary | std::ios::trunc);
      if (!writer_) return PXC_STATUS_DEVICE_FAILED;
      writer_.write(kRecordingMagic, 8);
      writer_.write(reinterpret_cast<const char*>(&recording_), sizeof(recording_));
    }
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus AcquireFrame(bool, int32_t) override {
    if (!scene_) return PXC_STATUS_DEVICE_FAILED;
    if (reader_.is_open()) return Play();
    if (scenario_.frames > 0 && number_ >= scenario_.frames) return PXC_STATUS_ITEM_UNAVAILABLE;
    if (scenario_.paced)
      std::this_thread::sleep_until(start_ +
                                    std::chrono::microseconds(int64_t(number_) * 100000 / 3));
    scene_->Render(number_, device_->exposure(), &frame_);
    const int64_t stamp = kClockOrigin + int64_t(number_) * kFrameTicks;
    const int w = color_size_.width, h = color_size_.height;
    const int pitch = w * 2 + scenario_.color_pitch_padding;
    // Every colour size is even: the conversion writes each pair of pixels and the padding.
    auto* color = new Image(w, h, PXCImage::PIXEL_FORMAT_YUY2, pitch, stamp,
                            w % 2 ? Image::kZeroed : Image::kWrittenWhole);
    ToYuy2(frame_.color_bgr.data(), w, h, color->pixels(), pitch);
    ReleaseSample();
    sample_.color = color;
    if (depth_on_) {
      auto* depth = new Image(depth_size_.width, depth_size_.height, PXCImage::PIXEL_FORMAT_DEPTH,
                              depth_size_.width * 2, stamp - kDepthLead, Image::kWrittenWhole);
      std::memcpy(depth->pixels(), frame_.depth.data(), frame_.depth.size() * 2);
      sample_.depth = depth;
    }
    segmentation_.Set(&frame_, w, h, stamp);
    ++number_;
    if (writer_.is_open())
      Record(*color, sample_.depth ? static_cast<Image*>(sample_.depth) : nullptr);
    return PXC_STATUS_NO_ERROR;
  }

  // Recording and playback, in the runtime's own format (recording.h).
  pxcStatus OpenRecording(const std::string& file, bool record) {
    reader_.close();
    record_file_.clear();
    playback_failed_ = false;
    if (record) {
      record_file_ = file;
      return PXC_STATUS_NO_ERROR;
    }
    reader_.open(file, std::ios::binary);
    const int32_t frames = ReadRecordingHeader(reader_, &recording_);
    if (frames < 0) {
      reader_.close();
      playback_failed_ = true;
      return PXC_STATUS_ITEM_UNAVAILABLE;
    }
    frames_in_file_ = frames;
    play_index_ = 0;
    return PXC_STATUS_NO_ERROR;
  }
  void set_play_paused(bool paused) { play_paused_ = paused; }
  void set_realtime(bool realtime) { realtime_ = realtime; }
  void set_play_index(int32_t index) { play_index_ = std::clamp(index, 0, frames_in_file_); }
  int32_t play_index() const { return play_index_; }
  int32_t frames_in_file() const { return frames_in_file_; }
  const PXCCapture::Sample* QuerySample() override { return &sample_; }
  void ReleaseFrame() override {}
  void FlushFrame() override {}
  void Close() override {
    ReleaseSample();
    writer_.close();
    reader_.close();
    record_file_.clear();
    playback_failed_ = false;
    segmentation_.Set(nullptr, 0, 0, 0);
    device_.reset();
    scene_.reset();
    color_size_ = {0, 0};
    depth_size_ = FirstDepthMode();
    depth_on_ = face_on_ = segmentation_on_ = false;
    frame_ = Frame{};
  }

  // PXCSimulationTruth
  int32_t QueryFrameNumber() override { return frame_.number; }
  int32_t QueryNumberOfPersons() override {
    int32_t n = 0;
    for (const auto& p : frame_.persons) n += p.present;
    return n;
  }
  pxcStatus QueryPerson(int32_t index, Person* person) override {
    for (const auto& p : frame_.persons) {
      if (!p.present || index-- != 0) continue;
      *person = Person{};
      person->user_id = -1;
      person->head_position = {p.head[0], -p.head[1], p.head[2]};
      person->yaw = p.yaw, person->pitch = p.pitch, person->roll = p.roll;
      for (int i = 0; i < kExpressions; ++i) person->expression[i] = p.expression[i];
      for (const auto& f : frame_.faces)
        if (f.user_id == p.user_id) person->user_id = f.user_id, person->box = {f.x, f.y, f.w, f.h};
      return PXC_STATUS_NO_ERROR;
    }
    return PXC_STATUS_ITEM_UNAVAILABLE;
  }
  const uint8_t* QueryPersonMask(PXCSizeI32* size) override {
    *size = color_size_;
    mask_.resize(frame_.person.size());
    for (size_t i = 0; i < mask_.size(); ++i) mask_[i] = frame_.person[i] ? 255 : 0;
    return mask_.data();
  }

  Device* device() { return device_.get(); }

 private:
  PXCSizeI32 FirstDepthMode() const {
    return {scenario_.depth_sizes.front()[0], scenario_.depth_sizes.front()[1]};
  }
  void ToYuy2(const uint8_t* bgr, int w, int h, uint8_t* out, int pitch) {
    Pool().For(int64_t(h), [&](int64_t begin, int64_t end) {
      for (int y = int(begin); y < int(end); ++y) {
        // The frame's picture and the image never overlap.
        const uint8_t* __restrict__ s = bgr + size_t(y) * w * 3;
        uint8_t* __restrict__ d = out + size_t(y) * pitch;
        for (int x = 0; x + 1 < w; x += 2) {
          float luma[2], u = 0, v = 0;
          for (int k = 0; k < 2; ++k) {
            const float b = s[(x + k) * 3], g = s[(x + k) * 3 + 1], r = s[(x + k) * 3 + 2];
            luma[k] = 0.299f * r + 0.587f * g + 0.114f * b;
            u += (b - luma[k]) * 0.564f * 0.5f;
            v += (r - luma[k]) * 0.713f * 0.5f;
          }
          auto c = [](float x) { return uint8_t(x < 0 ? 0 : x > 255 ? 255 : x + 0.5f); };
          d[x * 2] = c(luma[0]);
          d[x * 2 + 1] = c(u + 128);
          d[x * 2 + 2] = c(luma[1]);
          d[x * 2 + 3] = c(v + 128);
        }
        std::memset(d + w * 2, 0xCD, pitch - w * 2);
      }
    });
  }
  void Record(Image& color, Image* depth) {
    const int64_t stamps[2] = {color.QueryTimeStamp(), depth ? depth->QueryTimeStamp() : 0};
    writer_.write(reinterpret_cast<const char*>(stamps), sizeof(stamps));
    for (int y = 0; y < recording_.color_height; ++y)
      writer_.write(reinterpret_cast<const char*>(color.pixels() + size_t(y) * color.pitch()),
                    recording_.color_width * 2);
    if (depth && recording_.depth_width > 0)
      writer_.write(reinterpret_cast<const char*>(depth->pixels()),
                    std::streamsize(recording_.depth_width) * recording_.depth_height * 2);
    writer_.flush();
  }
  pxcStatus Play() {
    if (play_index_ >= frames_in_file_) return PXC_STATUS_ITEM_UNAVAILABLE;
    if (realtime_)
      std::this_thread::sleep_until(start_ +
                                    std::chrono::microseconds(int64_t(number_) * 100000 / 3));
    const int w = recording_.color_width, h = recording_.color_height;
    int64_t stamps[2] = {};
    auto* color = new Image(w, h, PXCImage::PIXEL_FORMAT_YUY2, w * 2, 0);
    Image* depth = nullptr;
    if (recording_.depth_width > 0) {
      depth = new Image(recording_.depth_width, recording_.depth_height,
                        PXCImage::PIXEL_FORMAT_DEPTH, recording_.depth_width * 2, 0);
    }
    const bool read = ReadRecordedFrame(reader_, recording_, play_index_, stamps, color->pixels(),
                                        depth ? depth->pixels() : nullptr);
    color->set_time_stamp(stamps[0]);
    if (depth) depth->set_time_stamp(stamps[1]);
    ReleaseSample();
    sample_.color = color;
    sample_.depth = depth;
    if (!read) return PXC_STATUS_DEVICE_FAILED;
    ++number_;
    if (!play_paused_) ++play_index_;
    return PXC_STATUS_NO_ERROR;
  }
  void ReleaseSample() {
    if (sample_.color) sample_.color->Release();
    if (sample_.depth) sample_.depth->Release();
    sample_ = {nullptr, nullptr};
  }

  class Session* session_;
  const Scenario scenario_;
  CaptureManager capture_manager_;
  Frame frame_;
  FaceModule face_;
  SegmentationModule segmentation_;
  std::unique_ptr<Device> device_;
  std::unique_ptr<Scene> scene_;
  PXCSizeI32 color_size_{0, 0};
  PXCSizeI32 depth_size_{0, 0};  // the enabled depth mode; the first one until one is chosen
  bool depth_on_ = false, face_on_ = false, segmentation_on_ = false;
  int32_t number_ = 0;
  std::chrono::steady_clock::time_point start_;
  PXCCapture::Sample sample_{nullptr, nullptr};
  std::vector<uint8_t> mask_;
  RecordingSizes recording_{0, 0, 0, 0};
  std::string record_file_;
  std::ofstream writer_;
  std::ifstream reader_;
  int32_t frames_in_file_ = 0;
  int32_t play_index_ = 0;
  bool play_paused_ = false;
  bool playback_failed_ = false;
  bool realtime_ = true;
};

PXCCapture::Device* CaptureManager::QueryDevice() { return owner_->device(); }
pxcStatus CaptureManager::SetFileName(const wchar_t* file, bool record) {
  if (!file || !*file) return PXC_STATUS_PARAM_UNSUPPORTED;
  std::string name;
  for (const wchar_t* c = file; *c; ++c) {  // UTF-8 of the wide name
    const uint32_t u = uint32_t(*c);
    if (u < 0x80) {
      name += char(u);
    } else if (u < 0x800) {
      name += char(0xC0 | (u >> 6)), name += char(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      name += char(0xE0 | (u >> 12)), name += char(0x80 | ((u >> 6) & 0x3F)),
          name += char(0x80 | (u & 0x3F));
    } else {
      name += char(0xF0 | (u >> 18)), name += char(0x80 | ((u >> 12) & 0x3F)),
          name += char(0x80 | ((u >> 6) & 0x3F)), name += char(0x80 | (u & 0x3F));
    }
  }
  return owner_->OpenRecording(name, record);
}
void CaptureManager::SetPause(bool pause) { owner_->set_play_paused(pause); }
void CaptureManager::SetRealtime(bool realtime) { owner_->set_realtime(realtime); }
void CaptureManager::SetFrameByIndex(int32_t frame) { owner_->set_play_index(frame); }
int32_t CaptureManager::QueryFrameIndex() { return owner_->play_index(); }
int32_t CaptureManager::QueryNumberOfFrames() { return owner_->frames_in_file(); }

// Counted: a sense manager keeps its session alive after the creator released it.
class Session : public Object<PXCSession> {
 public:
  explicit Session(Scenario scenario) : scenario_(std::move(scenario)) {
    std::string error;
    const std::string folder =
        scenario_.face_model.empty() ? PXCSIM_FACE_MODEL_DIR : scenario_.face_model;
    // Without the model the person keeps a painted face and a smaller landmark set.
    mesh_ = FaceMesh::Load(folder, &error);
  }
  std::shared_ptr<const FaceMesh> mesh() const { return mesh_; }
  WorkerPool& pool() { return pool_; }
  ViewCache& views() { return views_; }
  void AddRef() { ++references_; }
  void Release() override {
    if (--references_ == 0) delete this;
  }
  ImplVersion QueryVersion() override {
    return {int16_t(scenario_.version_major), int16_t(scenario_.version_minor)};
  }
  pxcStatus QueryImpl(const ImplDesc* templ, int32_t index, ImplDesc* desc) override {
    if (!templ || templ->group != IMPL_GROUP_SENSOR ||
        templ->subgroup != IMPL_SUBGROUP_VIDEO_CAPTURE || index != 0)
      return PXC_STATUS_ITEM_UNAVAILABLE;
    *desc = *templ;
    desc->index = index;
    Name(desc->friendlyName, 256, L"Simulated Depth Camera Capture");
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus CreateImpl(const ImplDesc* desc, pxcUID cuid, void** instance) override {
    *instance = nullptr;
    if (!desc && cuid == PXCSenseManager::CUID) {
      *instance = static_cast<PXCSenseManager*>(new SenseManager(this, scenario_));
    } else if (desc && cuid == PXCCapture::CUID) {
      *instance = static_cast<PXCCapture*>(new Capture(scenario_));
    } else {
      return PXC_STATUS_FEATURE_UNSUPPORTED;
    }
    return PXC_STATUS_NO_ERROR;
  }

 private:
  ~Session() override = default;
  Scenario scenario_;
  std::shared_ptr<const FaceMesh> mesh_;
  // Shared by the session's sense managers, which keep the session alive.
  WorkerPool pool_;
  ViewCache views_;
  std::atomic<int> references_{1};
};

SenseManager::SenseManager(Session* session, const Scenario& scenario)
    : session_(session), scenario_(scenario), capture_manager_(this), face_(&frame_.faces) {
  depth_size_ = FirstDepthMode();
  segmentation_.pool_ = &session->pool();
  session->AddRef();
}

PXCSession* SenseManager::QuerySession() { return session_; }
std::shared_ptr<const FaceMesh> SenseManager::FaceModel() { return session_->mesh(); }
WorkerPool& SenseManager::Pool() { return session_->pool(); }
ViewCache& SenseManager::Views() { return session_->views(); }

SenseManager::~SenseManager() {
  Close();
  session_->Release();
}

}  // namespace
}  // namespace pxcsim

extern "C" __attribute__((visibility("default"))) pxcStatus PXCSession_CreateExt(
    int32_t sdk_major, int32_t, int32_t, int32_t, int32_t, int32_t, PXCSession** session) {
  if (!session) return PXC_STATUS_PARAM_UNSUPPORTED;
  *session = nullptr;
  if (sdk_major < 8) return PXC_STATUS_FEATURE_UNSUPPORTED;
  pxcsim::Scenario scenario;
  if (const char* file = std::getenv("VANTISOL_CAMERA_SCENARIO"); file && *file) {
    std::string error;
    scenario = pxcsim::Scenario::Load(file, &error);
  }
  *session = new pxcsim::Session(std::move(scenario));
  return PXC_STATUS_NO_ERROR;
}
