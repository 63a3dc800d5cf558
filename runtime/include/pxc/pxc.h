#pragma once

// The camera runtime's interfaces as the camera module uses them. Every object is reference-free:
// whoever creates one releases it through Release(); objects handed out by a query belong to
// their parent.

#include <cstdint>

using pxcStatus = int32_t;
using pxcBool = int32_t;
using pxcUID = uint32_t;
using pxcI64 = int64_t;

constexpr pxcStatus PXC_STATUS_NO_ERROR = 0;
constexpr pxcStatus PXC_STATUS_FEATURE_UNSUPPORTED = -2;
constexpr pxcStatus PXC_STATUS_ITEM_UNAVAILABLE = -3;
constexpr pxcStatus PXC_STATUS_PARAM_UNSUPPORTED = -4;
constexpr pxcStatus PXC_STATUS_DEVICE_FAILED = -5;
constexpr pxcStatus PXC_STATUS_FILE_READ_FAILED = -6;

struct PXCSizeI32 {
  int32_t width;
  int32_t height;
};
struct PXCRectI32 {
  int32_t x, y, w, h;
};
struct PXCPointF32 {
  float x, y;
};
struct PXCPoint3DF32 {
  float x, y, z;
};
struct PXCRangeF32 {
  float min, max;
};

class PXCBase {
 public:
  // The same object seen through another of its interfaces, or null.
  virtual void* QueryInstance(pxcUID cuid) = 0;
  virtual void Release() = 0;

 protected:
  virtual ~PXCBase() = default;
};

class PXCImage : public PXCBase {
 public:
  enum PixelFormat : int32_t {
    PIXEL_FORMAT_ANY = 0,
    PIXEL_FORMAT_YUY2 = 0x10000,
    PIXEL_FORMAT_NV12 = 0x10001,
    PIXEL_FORMAT_RGB32 = 0x10002,
    PIXEL_FORMAT_RGB24 = 0x10003,
    PIXEL_FORMAT_Y8 = 0x10004,
    PIXEL_FORMAT_DEPTH = 0x20000,
    PIXEL_FORMAT_DEPTH_RAW = 0x20001,
    PIXEL_FORMAT_DEPTH_F32 = 0x20002,
    PIXEL_FORMAT_Y16 = 0x40000,
    PIXEL_FORMAT_Y8_IR_RELATIVE = 0x80000,
  };
  enum Access : int32_t { ACCESS_READ = 1, ACCESS_WRITE = 2 };
  struct ImageInfo {
    int32_t width;
    int32_t height;
    PixelFormat format;
  };
  struct ImageData {
    PixelFormat format;
    int32_t pitches[4];
    uint8_t* planes[4];
  };

  virtual ImageInfo QueryInfo() = 0;
  // 100-ns units.
  virtual pxcI64 QueryTimeStamp() = 0;
  virtual pxcStatus AcquireAccess(Access access, PixelFormat format, ImageData* data) = 0;
  virtual pxcStatus ReleaseAccess(ImageData* data) = 0;
};

class PXCCapture : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x83F72A50;
  enum StreamType : int32_t { STREAM_TYPE_ANY = 0, STREAM_TYPE_COLOR = 1, STREAM_TYPE_DEPTH = 2 };
  enum DeviceModel : int32_t {
    DEVICE_MODEL_GENERIC = 0,
    DEVICE_MODEL_F200 = 0x20000E,
    DEVICE_MODEL_SR300 = 0x200010,
  };
  enum Property : int32_t {
    PROPERTY_COLOR_BRIGHTNESS = 2,
    PROPERTY_COLOR_GAIN = 10,
    PROPERTY_IVCAM_LASER_POWER = 202,
    PROPERTY_DEVICE_MODE = 302,
    PROPERTY_IVCAM_ACCURACY = 0x10003,
    PROPERTY_IVCAM_FILTER = 0x10004,
  };
  struct DeviceInfo {
    wchar_t name[224];
    DeviceModel model;
    int32_t didx;
  };
  struct Sample {
    PXCImage* color;
    PXCImage* depth;
  };

  class Device : public PXCBase {
   public:
    struct StreamProfile {
      PXCImage::ImageInfo imageInfo;
      PXCRangeF32 frameRate;
    };
    struct StreamProfileSet {
      StreamProfile color;
      StreamProfile depth;
    };
    struct PropertyInfo {
      PXCRangeF32 range;
      float step;
      float defaultValue;
    };

    virtual pxcStatus QueryDeviceInfo(DeviceInfo* info) = 0;
    virtual int32_t QueryStreamProfileSetNum(int32_t scope) = 0;
    virtual pxcStatus QueryStreamProfileSet(int32_t scope, int32_t index,
                                            StreamProfileSet* profiles) = 0;
    virtual pxcStatus SetProperty(Property label, float value) = 0;
    virtual pxcStatus QueryProperty(Property label, float* value) = 0;
    virtual pxcStatus QueryPropertyInfo(Property label, PropertyInfo* info) = 0;
    virtual void ResetProperties(StreamType streams) = 0;
    virtual class PXCProjection* CreateProjection() = 0;

    pxcStatus SetColorBrightness(float value) {
      return SetProperty(PROPERTY_COLOR_BRIGHTNESS, value);
    }
    pxcStatus SetColorGain(float value) { return SetProperty(PROPERTY_COLOR_GAIN, value); }
  };

  virtual pxcStatus QueryDeviceInfo(int32_t didx, DeviceInfo* info) = 0;
  virtual Device* CreateDevice(int32_t didx) = 0;
};

class PXCCalibration : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x494A8538;
  struct StreamCalibration {
    PXCPointF32 focalLength;
    PXCPointF32 principalPoint;
    float radialDistortion[3];
    float tangentialDistortion[2];
  };
  struct StreamTransformation {
    float translation[3];  // millimetres
    float rotation[3][3];
  };
  virtual pxcStatus QueryStreamProjectionParameters(PXCCapture::StreamType stream,
                                                    StreamCalibration* calibration,
                                                    StreamTransformation* transformation) = 0;
};

class PXCProjection : public PXCBase {
 public:
  // A depth picture in the colour camera's pixels; the caller releases it.
  virtual PXCImage* CreateDepthImageMappedToColor(PXCImage* depth, PXCImage* color) = 0;
};

class PXCCaptureManager : public PXCBase {
 public:
  virtual pxcStatus SetFileName(const wchar_t* file, bool record) = 0;
  virtual void SetPause(bool pause) = 0;
  virtual void SetRealtime(bool realtime) = 0;
  virtual void SetFrameByIndex(int32_t frame) = 0;
  virtual int32_t QueryFrameIndex() = 0;
  virtual int32_t QueryNumberOfFrames() = 0;
  virtual PXCCapture::Device* QueryDevice() = 0;
};

class PXCVideoModule : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x69D5B036;
  struct StreamDesc {
    PXCSizeI32 sizeMin;
    PXCSizeI32 sizeMax;  // 0 means no limit
  };
  struct DataDesc {
    StreamDesc color;
    StreamDesc depth;
  };
  virtual pxcStatus QueryCaptureProfile(int32_t index, DataDesc* desc) = 0;
};

class PXCFaceConfiguration : public PXCBase {
 public:
  struct DetectionConfiguration {
    bool isEnabled;
    int32_t maxTrackedFaces;
  };
  struct LandmarksConfiguration {
    bool isEnabled;
    int32_t maxTrackedFaces;
    int32_t smoothingLevel;
  };
  struct PoseConfiguration {
    bool isEnabled;
  };
  virtual void RestoreDefaults() = 0;
  virtual pxcStatus ApplyChanges() = 0;

  DetectionConfiguration detection{};
  LandmarksConfiguration landmarks{};
  PoseConfiguration pose{};
  int32_t strategy = 0;
};

class PXCFaceData : public PXCBase {
 public:
  struct LandmarkPoint {
    int32_t confidenceImage;
    int32_t confidenceWorld;
    PXCPoint3DF32 world;  // metres, y up
    PXCPointF32 image;
  };
  struct PoseEulerAngles {
    float yaw, pitch, roll;
  };
  struct HeadPosition {
    PXCPoint3DF32 headCenter;  // millimetres, y up
  };
  class DetectionData {
   public:
    virtual pxcBool QueryBoundingRect(PXCRectI32* rect) = 0;
    virtual pxcBool QueryFaceAverageDepth(float* depth) = 0;

   protected:
    virtual ~DetectionData() = default;
  };
  class PoseData {
   public:
    // The answer is 1 when the pose is valid.
    virtual pxcBool QueryPoseAngles(PoseEulerAngles* angles) = 0;
    virtual pxcBool QueryHeadPosition(HeadPosition* position) = 0;

   protected:
    virtual ~PoseData() = default;
  };
  class LandmarksData {
   public:
    virtual int32_t QueryNumPoints() = 0;
    virtual pxcBool QueryPoints(LandmarkPoint* points) = 0;

   protected:
    virtual ~LandmarksData() = default;
  };
  class Face {
   public:
    virtual int32_t QueryUserID() = 0;
    virtual DetectionData* QueryDetection() = 0;
    virtual PoseData* QueryPose() = 0;
    virtual LandmarksData* QueryLandmarks() = 0;

   protected:
    virtual ~Face() = default;
  };

  virtual pxcStatus Update() = 0;
  virtual int32_t QueryNumberOfDetectedFaces() = 0;
  virtual Face* QueryFaceByIndex(int32_t index) = 0;
};

class PXCFaceModule : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x44334146;
  virtual PXCFaceConfiguration* CreateActiveConfiguration() = 0;
  virtual PXCFaceData* CreateOutput() = 0;
};

class PXC3DSeg : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x31494753;
  // The colour picture with the person in alpha (RGB32), or null; the caller releases it.
  virtual PXCImage* AcquireSegmentedImage() = 0;
};

class PXCSession;

class PXCSenseManager : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x54555050;
  virtual PXCSession* QuerySession() = 0;
  virtual PXCCaptureManager* QueryCaptureManager() = 0;
  virtual pxcStatus EnableStream(PXCCapture::StreamType type, int32_t width, int32_t height,
                                 float fps = 0, int32_t options = 0) = 0;
  virtual pxcStatus EnableModule(pxcUID cuid) = 0;
  // The module's base; its interface comes from QueryInstance(cuid).
  virtual PXCBase* QueryModule(pxcUID cuid) = 0;
  virtual void PauseModule(pxcUID cuid, bool pause) = 0;
  virtual pxcStatus Init() = 0;
  virtual pxcStatus AcquireFrame(bool ifall, int32_t timeout) = 0;
  virtual const PXCCapture::Sample* QuerySample() = 0;
  virtual void ReleaseFrame() = 0;
  virtual void FlushFrame() = 0;
  virtual void Close() = 0;
};

class PXCSession : public PXCBase {
 public:
  enum ImplGroup : int32_t { IMPL_GROUP_SENSOR = 4 };
  enum ImplSubgroup : int32_t { IMPL_SUBGROUP_VIDEO_CAPTURE = 2 };
  struct ImplVersion {
    int16_t major;
    int16_t minor;
  };
  struct ImplDesc {
    ImplGroup group;
    ImplSubgroup subgroup;
    int32_t index;
    wchar_t friendlyName[256];
  };
  virtual ImplVersion QueryVersion() = 0;
  virtual pxcStatus QueryImpl(const ImplDesc* templ, int32_t index, ImplDesc* desc) = 0;
  // desc null with PXCSenseManager::CUID creates a sense manager.
  virtual pxcStatus CreateImpl(const ImplDesc* desc, pxcUID cuid, void** instance) = 0;
};

// The factory exported by libpxcsession.
extern "C" {
using PXCSessionCreateExtFunction = pxcStatus (*)(int32_t, int32_t, int32_t, int32_t, int32_t,
                                                  int32_t, PXCSession**);
pxcStatus PXCSession_CreateExt(int32_t sdk_major, int32_t sdk_minor, int32_t build, int32_t flags,
                               int32_t local, int32_t reserved, PXCSession** session);
// Why the calling thread's last PXCSession_CreateExt made no session, in words (empty when it made
// one or has no words for its status); valid until that thread calls the factory again.
using PXCSessionQueryErrorFunction = const char* (*)();
const char* PXCSession_QueryError();
}
