#include "camera/internal_camera.h"

#include <rapidjson/document.h>

#include <QString>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "camera/face_data.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

constexpr pxcUID kFaceModuleId = 0x44334146;
constexpr pxcUID kSegmentationModuleId = 0x31494753;
constexpr int32_t kInfinite = -1;

std::string ModuleMessage(const std::string& name) {
  return "Could not enable the <b>Intel Realsense " + name + " module</b>. Please <a href='" +
         RuntimeInstallerLink() + "'>download</a> the newest runtime and install the <b>" + name +
         "</b> module.<br><br>More help on " + kCameraHelpLink;
}

const char* FormatName(PXCImage::PixelFormat format) {
  switch (format) {
    case PXCImage::PIXEL_FORMAT_YUY2:
      return "YUY2";
    case PXCImage::PIXEL_FORMAT_NV12:
      return "NV12";
    case PXCImage::PIXEL_FORMAT_RGB32:
      return "RGB32";
    case PXCImage::PIXEL_FORMAT_RGB24:
      return "RGB24";
    case PXCImage::PIXEL_FORMAT_Y8:
      return "Y8";
    case PXCImage::PIXEL_FORMAT_DEPTH:
      return "DEPTH";
    case PXCImage::PIXEL_FORMAT_DEPTH_RAW:
      return "DEPTH(NATIVE)";
    case PXCImage::PIXEL_FORMAT_DEPTH_F32:
      return "DEPTH(FLOAT)";
    case PXCImage::PIXEL_FORMAT_Y16:
      return "Y16";
    case PXCImage::PIXEL_FORMAT_Y8_IR_RELATIVE:
      return "Y8_REL";
    default:
      return "Unknown";
  }
}

Calibration StreamCalibration(PXCCalibration* calibration, PXCCapture::StreamType stream) {
  Calibration result;
  if (!calibration) return result;
  PXCCalibration::StreamCalibration c{};
  PXCCalibration::StreamTransformation t{};
  calibration->QueryStreamProjectionParameters(stream, &c, &t);
  for (int i = 0; i < 3; ++i) result.T[i] = t.translation[i] / 1000;
  for (int i = 0; i < 9; ++i) result.R[i] = t.rotation[i / 3][i % 3];
  result.K = {
      c.focalLength.x, 0, c.principalPoint.x, 0, c.focalLength.y, c.principalPoint.y, 0, 0, 1};
  result.k1 = c.radialDistortion[0];
  result.k2 = c.radialDistortion[1];
  result.k3 = c.radialDistortion[2];
  result.p1 = c.tangentialDistortion[0];
  result.p2 = c.tangentialDistortion[1];
  return result;
}

std::vector<Size> Sizes(const std::set<Size, SizeOrder>* set) {
  return set ? std::vector<Size>(set->begin(), set->end()) : std::vector<Size>();
}

bool Within(const Size& size, const PXCVideoModule::StreamDesc& limits) {
  const auto& lo = limits.sizeMin;
  const auto& hi = limits.sizeMax;
  return size.width >= lo.width && size.height >= lo.height &&
         (hi.width == 0 || size.width <= hi.width) && (hi.height == 0 || size.height <= hi.height);
}

}  // namespace

CameraImage GetImage(PXCImage* image, int64_t time_base, PXCCapture::StreamType stream,
                     PXCCalibration* calibration, bool convert) {
  const Calibration camera_calibration = StreamCalibration(calibration, stream);
  const PXCImage::ImageInfo info = image->QueryInfo();
  Image::Format format = Image::Format::kInvalid;
  PXCImage::PixelFormat access = PXCImage::PIXEL_FORMAT_ANY;
  switch (info.format) {
    case PXCImage::PIXEL_FORMAT_YUY2:
      format = convert ? Image::Format::kBGR : Image::Format::kYUY2;
      access = convert ? PXCImage::PIXEL_FORMAT_RGB24 : PXCImage::PIXEL_FORMAT_ANY;
      break;
    case PXCImage::PIXEL_FORMAT_RGB32:
      format = Image::Format::kBGRA;
      break;
    case PXCImage::PIXEL_FORMAT_DEPTH:
    case PXCImage::PIXEL_FORMAT_DEPTH_RAW:
      format = Image::Format::kGray16;
      break;
    default:
      CLOG(FATAL, "default") << "Cannot handle pixel format " << FormatName(info.format);
      return CameraImage(Image(), camera_calibration, 0);
  }
  const int64_t time_stamp = (image->QueryTimeStamp() - time_base) * 100;
  Image picture(Size{info.width, info.height}, format);
  PXCImage::ImageData data{};
  const pxcStatus status = image->AcquireAccess(PXCImage::ACCESS_READ, access, &data);
  VANTISOL_CHECK(status == PXC_STATUS_NO_ERROR) << "read access to the camera image";
  if (status != PXC_STATUS_NO_ERROR) return CameraImage(Image(), camera_calibration, time_stamp);
  const size_t row = size_t(info.width) * Image::pixel_size(format);
  uint8_t* target = picture.data.get();
  if (size_t(data.pitches[0]) == row) {
    std::memcpy(target, data.planes[0], row * info.height);
  } else {
    for (int y = 0; y < info.height; ++y) {
      std::memcpy(target + row * y, data.planes[0] + size_t(data.pitches[0]) * y, row);
    }
  }
  image->ReleaseAccess(&data);
  return CameraImage(picture, camera_calibration, time_stamp);
}

InternalCamera::InternalCamera(bool is_sr300, const ResolutionProfile& profile)
    : resolutions_(std::make_unique<ResolutionProfile>(profile)), is_sr300_(is_sr300) {
  CreateSenseManager();
}

InternalCamera::InternalCamera(const std::string& playback_file)
    : playback_file_(playback_file), simulation_mode_(Camera::SimulationMode::Realtime) {
  CreateSenseManager();
}

InternalCamera::~InternalCamera() {
  thread_running_ = false;
  CloseDevice();
}

void InternalCamera::CreateSenseManager() {
  PXCPtr<PXCSession> session(CreateSession());
  if (session) {
    void* instance = nullptr;
    session->CreateImpl(nullptr, PXCSenseManager::CUID, &instance);
    sense_manager_.reset(static_cast<PXCSenseManager*>(instance));
  }
  VANTISOL_CHECK(sense_manager_);
}

PXCCapture::Device* InternalCamera::Device() {
  if (device_ || !sense_manager_) return device_;
  if (simulation_mode_ != Camera::SimulationMode::None) {
    // clang-format off
    VANTISOL_CHECK(sense_manager_->QueryCaptureManager()->SetFileName( QString(SimulationFilename().c_str()).toStdWString().c_str(), simulation_mode_ == Camera::SimulationMode::Recording) == PXC_STATUS_NO_ERROR);
    // clang-format on
    if (simulation_mode_ >= Camera::SimulationMode::Realtime) {
      sense_manager_->QueryCaptureManager()->SetRealtime(simulation_mode_ ==
                                                         Camera::SimulationMode::Realtime);
      total_frames_ = sense_manager_->QueryCaptureManager()->QueryNumberOfFrames();
    }
  }
  const Size color_resolution = ColorResolution(false);
  // clang-format off
  VANTISOL_CHECK(sense_manager_->EnableStream( PXCCapture::STREAM_TYPE_COLOR, color_resolution.width, color_resolution.height) == PXC_STATUS_NO_ERROR);
  // clang-format on
  FaceModule();
  SegmentationModule();
  if (depth_on_) {
    const Size depthmap_resolution = DepthmapResolution(false);
    // clang-format off
    VANTISOL_CHECK(sense_manager_->EnableStream( PXCCapture::STREAM_TYPE_DEPTH, depthmap_resolution.width, depthmap_resolution.height) == PXC_STATUS_NO_ERROR);
    // clang-format on
  }
  const pxcStatus status = sense_manager_->Init();
  if (status != PXC_STATUS_NO_ERROR) {
    const std::string text =
        "CameraRealSense: Could not initialize camera: " + std::to_string(status);
    LOG(ERROR) << text;
    throw std::runtime_error(text);
  }
  device_ = sense_manager_->QueryCaptureManager()->QueryDevice();
  if (device_) device_->SetProperty(PXCCapture::PROPERTY_DEVICE_MODE, 0);
  return device_;
}

void InternalCamera::CloseDevice() {
  if (!device_) return;
  VANTISOL_CHECK(!thread_running_);
  sense_manager_->Close();
  time_base_.reset();
  time_offset_ = 0;
  last_time_stamp_ = 0;
  current_frame_ = 0;
  total_frames_ = 0;
  face_module_ = nullptr;
  segmentation_module_ = nullptr;
  device_ = nullptr;
  last_frame_.reset();
}

const ResolutionProfile* InternalCamera::Resolutions(bool build) {
  LOG(INFO) << "Resolutions";
  if (build && !resolutions_) {
    auto profile = std::make_unique<ResolutionProfile>(GetResolutions(Device()));
    RestrictResolutions(profile.get(), FaceModule());
    resolutions_ = std::move(profile);
  }
  return resolutions_.get();
}

std::vector<Size> InternalCamera::ColorResolutions(bool build) {
  const ResolutionProfile* profile = Resolutions(build);
  return Sizes(profile ? &profile->color : nullptr);
}

std::vector<Size> InternalCamera::DepthmapResolutions(bool build) {
  const ResolutionProfile* profile = Resolutions(build);
  return Sizes(profile ? &profile->depth : nullptr);
}

Size InternalCamera::ColorResolution(bool build) {
  if (color_resolution_) return *color_resolution_;
  const auto sizes = ColorResolutions(build);
  return sizes.empty() ? Size{} : sizes.back();
}

Size InternalCamera::DepthmapResolution(bool build) {
  if (depthmap_resolution_) return *depthmap_resolution_;
  const auto sizes = DepthmapResolutions(build);
  return sizes.empty() ? Size{} : sizes.back();
}

void InternalCamera::SetColorResolution(Size size) {
  if (color_resolution_ && *color_resolution_ == size) return;
  color_resolution_ = size;
  CloseDevice();
}

void InternalCamera::SetDepthmapResolution(Size size) {
  if (depthmap_resolution_ && *depthmap_resolution_ == size) return;
  depthmap_resolution_ = size;
  CloseDevice();
}

void InternalCamera::EnableFaceTracking() {
  if (face_tracking_on_) return;
  face_tracking_on_ = true;
  CloseDevice();
  if (resolutions_) RestrictResolutions(resolutions_.get(), FaceModule());
}

void InternalCamera::EnableDepthmap() {
  if (depth_on_) return;
  depth_on_ = true;
  CloseDevice();
}

void InternalCamera::EnableDepthProjection(bool on) {
  if (!depth_on_) {
    depth_on_ = true;
    CloseDevice();
  }
  depth_projection_on_ = on;
}

void InternalCamera::EnableSegmentation(bool on) {
  segmentation_paused_ = !on;
  if (segmentation_on_) {
    sense_manager_->PauseModule(kSegmentationModuleId, !on);
  } else if (on) {
    segmentation_on_ = true;
    CloseDevice();
    if (resolutions_) RestrictResolutions(resolutions_.get(), SegmentationModule());
  }
}

PXCFaceModule* InternalCamera::FaceModule() {
  LOG(INFO) << "FaceModule";
  if (!face_tracking_on_ || face_module_ || !sense_manager_) return face_module_;
  if (sense_manager_->EnableModule(kFaceModuleId) != PXC_STATUS_NO_ERROR) {
    const std::string text = ModuleMessage("Face Tracking");
    LOG(ERROR) << text;
    throw std::runtime_error(text);
  }
  PXCBase* module = sense_manager_->QueryModule(kFaceModuleId);
  face_module_ =
      module ? static_cast<PXCFaceModule*>(module->QueryInstance(kFaceModuleId)) : nullptr;
  if (!face_module_) return nullptr;
  PXCPtr<PXCFaceConfiguration> config(face_module_->CreateActiveConfiguration());
  if (config) {
    config->RestoreDefaults();
    config->detection = {true, 4};
    config->landmarks = {true, 4, 0};
    config->pose.isEnabled = true;
    config->strategy = 0;
    VANTISOL_CHECK(config->ApplyChanges() == PXC_STATUS_NO_ERROR);
  }
  return face_module_;
}

PXC3DSeg* InternalCamera::SegmentationModule() {
  LOG(INFO) << "SegmentationModule";
  if (!segmentation_on_ || segmentation_module_ || !sense_manager_) return segmentation_module_;
  if (sense_manager_->EnableModule(kSegmentationModuleId) != PXC_STATUS_NO_ERROR) {
    const std::string text = ModuleMessage("User Segmentation");
    LOG(ERROR) << text;
    throw std::runtime_error(text);
  }
  PXCBase* module = sense_manager_->QueryModule(kSegmentationModuleId);
  segmentation_module_ =
      module ? static_cast<PXC3DSeg*>(module->QueryInstance(kSegmentationModuleId)) : nullptr;
  return segmentation_module_;
}

bool InternalCamera::IsSR300() {
  if (!is_sr300_) {
    PXCCapture::DeviceInfo info{};
    PXCCapture::Device* device = Device();
    if (!device || device->QueryDeviceInfo(&info) != PXC_STATUS_NO_ERROR) return false;
    is_sr300_ = info.model == PXCCapture::DEVICE_MODEL_SR300;
  }
  return *is_sr300_;
}

ResolutionProfile InternalCamera::GetResolutions(PXCCapture::Device* device) {
  ResolutionProfile resolutions;
  if (!device) return resolutions;
  const int32_t type = PXCCapture::STREAM_TYPE_COLOR | PXCCapture::STREAM_TYPE_DEPTH;
  const int32_t count = device->QueryStreamProfileSetNum(type);
  for (int32_t i = 0; i < count; ++i) {
    PXCCapture::Device::StreamProfileSet profile{};
    VANTISOL_CHECK(device->QueryStreamProfileSet(type, i, &profile) == PXC_STATUS_NO_ERROR);
    resolutions.color.insert({profile.color.imageInfo.width, profile.color.imageInfo.height});
    resolutions.depth.insert({profile.depth.imageInfo.width, profile.depth.imageInfo.height});
  }
  return resolutions;
}

void InternalCamera::RestrictResolutions(ResolutionProfile* profile, PXCBase* module) {
  if (!module || !profile) return;
  auto* video = static_cast<PXCVideoModule*>(module->QueryInstance(PXCVideoModule::CUID));
  if (!video) return;
  std::vector<PXCVideoModule::DataDesc> descriptions;
  PXCVideoModule::DataDesc desc{};
  for (int32_t i = 0; video->QueryCaptureProfile(i, &desc) == PXC_STATUS_NO_ERROR; ++i) {
    descriptions.push_back(desc);
  }
  auto keep = [&](const std::set<Size, SizeOrder>& sizes, bool color) {
    std::set<Size, SizeOrder> kept;
    for (const Size& size : sizes) {
      for (const auto& d : descriptions) {
        if (Within(size, color ? d.color : d.depth)) {
          kept.insert(size);
          break;
        }
      }
    }
    return kept;
  };
  profile->color = keep(profile->color, true);
  profile->depth = keep(profile->depth, false);
}

std::shared_ptr<const ImageData> InternalCamera::Run() {
  PXCCaptureManager* capture = sense_manager_->QueryCaptureManager();
  const bool frame_by_frame = simulation_mode_ == Camera::SimulationMode::FrameByFrame;
  if (simulation_mode_ != Camera::SimulationMode::None) {
    capture->SetPause(paused_ || frame_by_frame);
    if (frame_by_frame) {
      capture->SetFrameByIndex(current_frame_);
      sense_manager_->FlushFrame();
    }
  }
  pxcStatus status = sense_manager_->AcquireFrame(true, kInfinite);
  if (status == PXC_STATUS_ITEM_UNAVAILABLE &&
      simulation_mode_ >= Camera::SimulationMode::Realtime) {
    if (!loop_) {
      LOG(INFO) << "No more frames... closing";
      return nullptr;
    }
    capture->SetFrameByIndex(0);
    sense_manager_->FlushFrame();
    time_offset_ = last_time_stamp_ + 1000000000;
    status = sense_manager_->AcquireFrame(true, kInfinite);
  }
  if (status != PXC_STATUS_NO_ERROR) {
    LOG(WARNING) << "Stopping loop because of error: " << status;
    return nullptr;
  }
  auto frame = BuildFrame();
  sense_manager_->ReleaseFrame();
  if (frame_by_frame && !paused_) {
    const int next = current_frame_ + 1;
    if (TotalFrames() <= next) {
      LOG(INFO) << "This was the last frame, closing...";
      return nullptr;
    }
    current_frame_ = next;
  }
  return frame;
}

std::shared_ptr<const ImageData> InternalCamera::BuildFrame() {
  LatencyCalculator latency;
  latency.name = "";
  if (simulation_mode_ == Camera::SimulationMode::None && paused_ && last_frame_) {
    return last_frame_;
  }
  PXCPtr<PXCProjection> projection(device_ ? device_->CreateProjection() : nullptr);
  auto* calibration =
      projection ? static_cast<PXCCalibration*>(projection->QueryInstance(PXCCalibration::CUID))
                 : nullptr;
  const PXCCapture::Sample* sample = sense_manager_->QuerySample();
  PXCImage* color_image = sample ? sample->color : nullptr;
  PXCImage* depth_image = sample && depth_on_ ? sample->depth : nullptr;
  if (!color_image) {
    LOG(WARNING) << "The camera delivered a frame without colour";
    return nullptr;
  }
  if (!time_base_) {
    int64_t base = color_image->QueryTimeStamp();
    if (depth_image) base = std::min(base, depth_image->QueryTimeStamp());
    time_base_ = base;
  }
  // The offset is kept in nanoseconds, the base in the runtime's 100-ns units.
  const int64_t base = *time_base_ - time_offset_ / 100;
  latency.Checkpoint("Color");

  CameraImage segmentation;
  if (segmentation_on_ && !segmentation_paused_ && segmentation_module_) {
    PXCPtr<PXCImage> segmented(segmentation_module_->AcquireSegmentedImage());
    if (segmented) {
      segmentation = GetImage(segmented.get(), base, PXCCapture::STREAM_TYPE_COLOR, calibration,
                              convert_to_rgb_);
    }
  }
  const CameraImage color =
      GetImage(color_image, base, PXCCapture::STREAM_TYPE_COLOR, calibration, convert_to_rgb_);
  last_time_stamp_ = std::max(last_time_stamp_, color.time_stamp);
  latency.Checkpoint("Depth Mapping");

  CameraImage depth, mapped;
  if (depth_image) {
    depth =
        GetImage(depth_image, base, PXCCapture::STREAM_TYPE_DEPTH, calibration, convert_to_rgb_);
    if (depth_projection_on_ && projection) {
      PXCPtr<PXCImage> mapped_image(
          projection->CreateDepthImageMappedToColor(depth_image, color_image));
      if (mapped_image) {
        mapped = GetImage(mapped_image.get(), base, PXCCapture::STREAM_TYPE_DEPTH, calibration,
                          convert_to_rgb_);
      }
    }
    last_time_stamp_ = std::max(last_time_stamp_, depth.time_stamp);
  }
  std::map<int, FaceData> faces;
  if (face_module_) faces = ProcessFace(face_module_, single_user_);
  latency.Checkpoint("Send");
  last_frame_ =
      std::make_shared<const ImageData>(color, segmentation, depth, mapped, faces, latency);
  return last_frame_;
}

void InternalCamera::SetSimulationMode(Camera::SimulationMode simulation_mode) {
  // clang-format off
  VANTISOL_CHECK(simulation_mode_ <= Camera::SimulationMode::Recording || simulation_mode >= Camera::SimulationMode::Realtime);
  // clang-format on
  if (simulation_mode_ >= Camera::SimulationMode::Realtime &&
      simulation_mode <= Camera::SimulationMode::Recording) {
    return;
  }
  simulation_mode_ = simulation_mode;
  CloseDevice();
}

std::string InternalCamera::SimulationFilename() {
  VANTISOL_CHECK(simulation_mode_ != Camera::SimulationMode::None);
  if (!playback_file_.empty()) return playback_file_;
  if (simulation_mode_ == Camera::SimulationMode::Recording) return "recording.rssdk";
  const std::string config = "camera_simulator.conf";
  LOG(INFO) << "Reading camera simulator config file: " << config;
  std::ifstream in(config);
  if (!in) {
    LOG(WARNING) << QString("Cannot open file %1").arg(config.c_str()).toStdString();
    LOG(INFO) << "Writing example config file to: " << config;
    std::ofstream(config) << "{\n  \"input_file\": \"recording.rssdk\"\n}\n";
    return "";
  }
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document document;
  document.Parse(text.str().c_str());
  if (document.HasParseError() || !document.IsObject() || !document.HasMember("input_file") ||
      !document["input_file"].IsString()) {
    LOG(WARNING) << "Config file format is invalid";
    return "";
  }
  const std::string file = document["input_file"].GetString();
  if (!std::ifstream(file)) {
    LOG(WARNING) << QString("File '%1' does not exist!").arg(file.c_str()).toStdString();
    return "";
  }
  playback_file_ = file;
  return file;
}

int InternalCamera::TotalFrames() {
  VANTISOL_CHECK(simulation_mode_ >= Camera::SimulationMode::Realtime);
  Device();
  return total_frames_;
}

void InternalCamera::SetCurrentFrame(int frame) {
  const int count = TotalFrames();
  if (count <= 0) {
    current_frame_ = 0;  // nothing to wrap into
    return;
  }
  current_frame_ = loop_ ? ((frame % count) + count) % count : std::clamp(frame, 0, count - 1);
}

}  // namespace vantisol
