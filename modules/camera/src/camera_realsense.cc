#include "camera/camera_realsense.h"

#include <cmath>
#include <stdexcept>

#include "utils/logging.h"
#include "utils/path.h"
#include "utils/plain_text_error.h"

namespace vantisol {
namespace {

std::string installer_link = "https://vantisol.example/camera-runtime";

PXCCapture::Property BrightnessProperty(bool is_sr300) {
  return is_sr300 ? PXCCapture::PROPERTY_COLOR_GAIN : PXCCapture::PROPERTY_COLOR_BRIGHTNESS;
}

const char* ModelName(int32_t model) {
  if (model == PXCCapture::DEVICE_MODEL_F200) return "F200";
  if (model == PXCCapture::DEVICE_MODEL_SR300) return "SR300";
  return "generic camera";
}

}  // namespace

const char kCameraHelpLink[] = "<a href='https://vantisol.example/help'>vantisol.example</a>";

void SetRuntimeInstallerLink(const std::string& link) { installer_link = link; }
const std::string& RuntimeInstallerLink() { return installer_link; }

CameraRealSense::CameraRealSense(const ResolutionProfile& profile, bool is_sr300)
    : camera_(is_sr300, profile) {}

CameraRealSense::CameraRealSense(const std::string& playback_file) : camera_(playback_file) {}

CameraRealSense::~CameraRealSense() { Stop(); }

std::vector<std::unique_ptr<CameraRealSense>> CameraRealSense::GetCameras() {
  LOG(INFO) << "Querying all realsense cameras";
  std::vector<std::unique_ptr<CameraRealSense>> cameras;
  PXCPtr<PXCSenseManager> sense_manager;
  {
    std::string refusal;
    PXCPtr<PXCSession> session(CreateSession(&refusal));
    // A runtime that is there but refuses is a camera that cannot start, not a missing one. Its
    // reason may quote a file name.
    if (!session && !refusal.empty()) {
      const std::string text = "CameraRealSense: Could not start the camera runtime: " + refusal;
      LOG(ERROR) << text;
      throw PlainTextError(text);
    }
    if (!session) return cameras;
    void* instance = nullptr;
    session->CreateImpl(nullptr, PXCSenseManager::CUID, &instance);
    sense_manager.reset(static_cast<PXCSenseManager*>(instance));
  }
  if (!sense_manager) return cameras;
  PXCSession* session = sense_manager->QuerySession();
  const PXCSession::ImplVersion version = session->QueryVersion();
  LOG(INFO) << "SDK Version: " << version.major << "." << version.minor;
  if (version.major < 8) {
    const std::string text = "CameraRealSense: SDK Version " + std::to_string(version.major) + "." +
                             std::to_string(version.minor) + " - Please <a href='" +
                             RuntimeInstallerLink() + "'>download</a> and install the " +
                             "Intel RealSense SDK Runtime " + std::to_string(8) + ".0 or higher." +
                             "<br><br>More help on " + kCameraHelpLink;
    LOG(ERROR) << text;
    throw std::runtime_error(text);
  }
  PXCSession::ImplDesc templ{};
  templ.group = PXCSession::IMPL_GROUP_SENSOR;
  templ.subgroup = PXCSession::IMPL_SUBGROUP_VIDEO_CAPTURE;
  PXCSession::ImplDesc desc{};
  for (int32_t i = 0; session->QueryImpl(&templ, i, &desc) == PXC_STATUS_NO_ERROR; ++i) {
    LOG(INFO) << "Module: " << WideToUtf8(desc.friendlyName);
    void* instance = nullptr;
    session->CreateImpl(&desc, PXCCapture::CUID, &instance);
    PXCPtr<PXCCapture> capture(static_cast<PXCCapture*>(instance));
    if (!capture) continue;
    PXCCapture::DeviceInfo info{};
    for (int32_t j = 0; capture->QueryDeviceInfo(j, &info) == PXC_STATUS_NO_ERROR; ++j) {
      LOG(INFO) << "Found " << ModelName(info.model) << ": " << WideToUtf8(info.name);
      if (info.model != PXCCapture::DEVICE_MODEL_F200 &&
          info.model != PXCCapture::DEVICE_MODEL_SR300) {
        continue;
      }
      PXCPtr<PXCCapture::Device> device(capture->CreateDevice(j));
      VANTISOL_CHECK(device);
      const ResolutionProfile profile = InternalCamera::GetResolutions(device.get());
      cameras.push_back(
          std::make_unique<CameraRealSense>(profile, info.model == PXCCapture::DEVICE_MODEL_SR300));
      break;
    }
  }
  return cameras;
}

void CameraRealSense::Start() {
  LOG(INFO) << "Start";
  auto camera = camera_.Acquire();
  if (camera->thread_running()) return;
  camera->Device();
  camera->set_thread_running(true);
  thread_ = std::thread(&CameraRealSense::Run, this);
}

void CameraRealSense::Stop() {
  LOG(INFO) << "Stop";
  auto camera = camera_.Acquire();
  if (!camera->thread_running()) return;
  camera->set_thread_running(false);
  camera.reset();
  if (thread_.joinable()) thread_.join();
  camera = camera_.Acquire();
  camera->CloseDevice();
}

void CameraRealSense::Run() {
  LOG(INFO) << "Running...";
  auto camera = camera_.Acquire();
  while (camera->thread_running()) {
    std::shared_ptr<const ImageData> frame = camera->Run();
    camera.reset();
    if (!frame) {
      stopped_signal_();
      return;
    }
    frame_signal_(frame);
    frame.reset();
    camera = camera_.Acquire();
  }
}

void CameraRealSense::Reset() {
  LOG(INFO) << "Reset";
  auto camera = camera_.Acquire();
  PXCCapture::Device* device = camera->Device();
  if (!device) return;
  device->ResetProperties(PXCCapture::STREAM_TYPE_ANY);
  device->SetProperty(PXCCapture::PROPERTY_IVCAM_ACCURACY, 6.0f);
  device->SetProperty(PXCCapture::PROPERTY_IVCAM_FILTER, 25.0f);
  device->SetProperty(PXCCapture::PROPERTY_IVCAM_LASER_POWER, 7.0f);
}

Size CameraRealSense::ColorResolution() {
  LOG(INFO) << "ColorResolution";
  return camera_.Acquire()->ColorResolution(true);
}

std::vector<Size> CameraRealSense::ColorResolutions() {
  LOG(INFO) << "ColorResolutions";
  return camera_.Acquire()->ColorResolutions(true);
}

void CameraRealSense::SetColorResolution(Size size) {
  LOG(INFO) << "SetColorResolution: " << size;
  camera_.Acquire()->SetColorResolution(size);
}

Size CameraRealSense::DepthmapResolution() {
  LOG(INFO) << "DepthmapResolution";
  return camera_.Acquire()->DepthmapResolution(true);
}

std::vector<Size> CameraRealSense::DepthmapResolutions() {
  LOG(INFO) << "DepthmapResolutions";
  return camera_.Acquire()->DepthmapResolutions(true);
}

void CameraRealSense::SetDepthmapResolution(Size size) {
  LOG(INFO) << "SetDepthmapResolution: " << size;
  camera_.Acquire()->SetDepthmapResolution(size);
}

void CameraRealSense::SetColorBrightness(float brightness) {
  LOG(INFO) << "SetColorBrightness: " << brightness;
  auto camera = camera_.Acquire();
  if (camera->simulation_mode() > SimulationMode::Recording) return;
  const int value = static_cast<int>(brightness);
  if (camera->IsSR300()) {
    VANTISOL_CHECK(camera->Device()->SetColorGain(value) == PXC_STATUS_NO_ERROR);
  } else {
    VANTISOL_CHECK(camera->Device()->SetColorBrightness(value) == PXC_STATUS_NO_ERROR);
  }
}

float CameraRealSense::ColorBrightness() {
  LOG(INFO) << "ColorBrightness";
  auto camera = camera_.Acquire();
  float value = 32767.0f;
  if (PXCCapture::Device* device = camera->Device()) {
    device->QueryProperty(BrightnessProperty(camera->IsSR300()), &value);
  }
  return std::trunc(value);
}

void CameraRealSense::GetColorBrightnessRange(float* min, float* max) {
  LOG(INFO) << "GetColorBrightnessRange";
  auto camera = camera_.Acquire();
  PXCCapture::Device::PropertyInfo info{};
  info.range = {32767.0f, 32767.0f};
  if (PXCCapture::Device* device = camera->Device()) {
    device->QueryPropertyInfo(BrightnessProperty(camera->IsSR300()), &info);
  }
  if (min) *min = info.range.min;
  if (max) *max = info.range.max;
}

float CameraRealSense::BrightnessControlGain() {
  return camera_.Acquire()->IsSR300() ? 0.05f : 0.25f;
}

int64_t CameraRealSense::BrightnessControlInterval() {
  return camera_.Acquire()->IsSR300() ? 250000000 : 2500000000;
}

void CameraRealSense::EnableFaceTracking() {
  LOG(INFO) << "EnableFaceTracking";
  camera_.Acquire()->EnableFaceTracking();
}

void CameraRealSense::EnableDepthmap() {
  LOG(INFO) << "EnableDepthmap";
  camera_.Acquire()->EnableDepthmap();
}

void CameraRealSense::EnableSegmentation(bool on) {
  LOG(INFO) << "EnableSegmentation";
  camera_.Acquire()->EnableSegmentation(on);
}

void CameraRealSense::EnableDepthProjection() {
  LOG(INFO) << "EnableDepthProjection";
  camera_.Acquire()->EnableDepthProjection(true);
}

void CameraRealSense::SetSingleUserMode(bool on) { camera_.Acquire()->set_single_user(on); }
void CameraRealSense::SetPaused(bool paused) { camera_.Acquire()->set_paused(paused); }
bool CameraRealSense::paused() { return camera_.Acquire()->paused(); }
void CameraRealSense::SetLoop(bool loop) { camera_.Acquire()->set_loop(loop); }
bool CameraRealSense::loop() { return camera_.Acquire()->loop(); }

void CameraRealSense::SetFrameByIndex(int index) {
  auto camera = camera_.Acquire();
  VANTISOL_CHECK(camera->simulation_mode() == SimulationMode::FrameByFrame);
  camera->SetCurrentFrame(index);
}

int CameraRealSense::TotalFrames() { return camera_.Acquire()->TotalFrames(); }

int CameraRealSense::CurrentFrame() {
  auto camera = camera_.Acquire();
  VANTISOL_CHECK(camera->simulation_mode() == SimulationMode::FrameByFrame);
  return camera->current_frame();
}

void CameraRealSense::SetSimulationMode(SimulationMode mode, bool loop) {
  LOG(INFO) << "SetSimulationMode";
  auto camera = camera_.Acquire();
  camera->set_loop(loop);
  camera->SetSimulationMode(mode);
}

std::vector<std::unique_ptr<Camera>> CreateCameras() {
  std::vector<std::unique_ptr<Camera>> cameras;
  for (auto& camera : CameraRealSense::GetCameras()) cameras.push_back(std::move(camera));
  return cameras;
}

std::unique_ptr<Camera> CreatePlaybackCamera() { return std::make_unique<CameraRealSense>(""); }

}  // namespace vantisol
