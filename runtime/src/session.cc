// The project's simulated depth-camera runtime: a live camera looking at a scripted scene.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device.h"
#include "face_mesh.h"
#include "image.h"
#include "playback.h"
#include "pxc/pxc.h"
#include "pxc/simulation.h"
#include "recording.h"
#include "scene.h"
#include "sense_modules.h"

namespace pxcsim {
namespace {

constexpr int64_t kFrameTicks = 333333;               // 100-ns units at 30 fps
constexpr int64_t kClockOrigin = 131000000000000000;  // an arbitrary device clock start
constexpr int64_t kDepthLead = 2000;                  // depth exposes 0.2 ms before colour

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
    if (player_.failed()) return PXC_STATUS_ITEM_UNAVAILABLE;
    if (player_.is_open()) {
      const RecordingSizes& sizes = player_.sizes();
      color_size_ = {sizes.color_width, sizes.color_height};
      depth_on_ = sizes.depth_width > 0;
      depth_size_ = {sizes.depth_width, sizes.depth_height};
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
    if (writer_.wanted() &&
        !writer_.Start({color_size_.width, color_size_.height, depth_on_ ? depth_size_.width : 0,
                        depth_on_ ? depth_size_.height : 0}))
      return PXC_STATUS_DEVICE_FAILED;
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus AcquireFrame(bool, int32_t) override {
    if (!scene_) return PXC_STATUS_DEVICE_FAILED;
    if (player_.is_open()) return Play();
    // A camera gives the frame of now: a consumer that fell behind skips what it missed rather
    // than seeing the scene in fast-forward.
    if (scenario_.paced) number_ = std::max(number_, FrameOfNow());
    if (scenario_.frames > 0 && number_ >= scenario_.frames) return PXC_STATUS_ITEM_UNAVAILABLE;
    if (scenario_.paced) std::this_thread::sleep_until(Due(number_));
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
    Image* depth = nullptr;
    if (depth_on_) {
      depth = new Image(depth_size_.width, depth_size_.height, PXCImage::PIXEL_FORMAT_DEPTH,
                        depth_size_.width * 2, stamp - kDepthLead, Image::kWrittenWhole);
      std::memcpy(depth->pixels(), frame_.depth.data(), frame_.depth.size() * 2);
      sample_.depth = depth;
    }
    segmentation_.Set(&frame_, w, h, stamp);
    ++number_;
    if (writer_.is_open()) {
      const int64_t stamps[2] = {color->QueryTimeStamp(), depth ? depth->QueryTimeStamp() : 0};
      writer_.Write(stamps, color->pixels(), color->pitch(), depth ? depth->pixels() : nullptr);
    }
    return PXC_STATUS_NO_ERROR;
  }

  // Recording and playback, in the runtime's own format (recording.h).
  pxcStatus OpenRecording(const std::string& file, bool record) {
    player_.Close();
    writer_.set_file(record ? file : std::string());
    if (record) return PXC_STATUS_NO_ERROR;
    return player_.Open(file) ? PXC_STATUS_NO_ERROR : PXC_STATUS_ITEM_UNAVAILABLE;
  }
  Player& player() { return player_; }
  const PXCCapture::Sample* QuerySample() override { return &sample_; }
  void ReleaseFrame() override {}
  void FlushFrame() override {}
  void Close() override {
    ReleaseSample();
    writer_.Close();
    player_.Close();
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
  // The 30-fps frame clock from the start: when frame `number` is due, and the last frame due.
  std::chrono::steady_clock::time_point Due(int32_t number) const {
    return start_ + std::chrono::microseconds(int64_t(number) * 100000 / 3);
  }
  int32_t FrameOfNow() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start_);
    return int32_t(elapsed.count() * 3 / 100000);
  }
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
  pxcStatus Play() {
    if (player_.at_end()) return PXC_STATUS_ITEM_UNAVAILABLE;
    if (player_.realtime()) std::this_thread::sleep_until(Due(number_));
    std::unique_ptr<Image> color, depth;
    const bool read = player_.Read(&color, &depth);
    ReleaseSample();
    sample_.color = color.release();
    sample_.depth = depth.release();
    if (!read) return PXC_STATUS_DEVICE_FAILED;
    ++number_;
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
  RecordingWriter writer_;
  Player player_;
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
void CaptureManager::SetPause(bool pause) { owner_->player().set_paused(pause); }
void CaptureManager::SetRealtime(bool realtime) { owner_->player().set_realtime(realtime); }
void CaptureManager::SetFrameByIndex(int32_t frame) { owner_->player().set_index(frame); }
int32_t CaptureManager::QueryFrameIndex() { return owner_->player().index(); }
int32_t CaptureManager::QueryNumberOfFrames() { return owner_->player().frames(); }

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

// The factory's words for its last refusal on this thread, kept the way dlerror keeps the loader's:
// the factory's signature has room for a status only.
std::string& LastError() {
  thread_local std::string text;
  return text;
}

}  // namespace
}  // namespace pxcsim

extern "C" __attribute__((visibility("default"))) pxcStatus PXCSession_CreateExt(
    int32_t sdk_major, int32_t, int32_t, int32_t, int32_t, int32_t, PXCSession** session) {
  std::string& error = pxcsim::LastError();
  error.clear();
  if (!session) return PXC_STATUS_PARAM_UNSUPPORTED;
  *session = nullptr;
  if (sdk_major < 8) return PXC_STATUS_FEATURE_UNSUPPORTED;
  pxcsim::Scenario scenario;
  // A scenario that was asked for and cannot be used is no camera: the default scene would pass
  // for it.
  if (const char* file = std::getenv("VANTISOL_CAMERA_SCENARIO"); file && *file) {
    scenario = pxcsim::Scenario::Load(file, &error);
    if (!error.empty()) return PXC_STATUS_FILE_READ_FAILED;
  }
  *session = new pxcsim::Session(std::move(scenario));
  return PXC_STATUS_NO_ERROR;
}

extern "C" __attribute__((visibility("default"))) const char* PXCSession_QueryError() {
  return pxcsim::LastError().c_str();
}
