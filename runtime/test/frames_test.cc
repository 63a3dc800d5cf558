// The built runtime's pictures and truth, pinned by hash: a faster renderer must draw the same.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pxc/pxc.h"
#include "pxc/simulation.h"

namespace pxcsim {
namespace {

// Every scripted event within the first ten frames: the second person in view, the face lost for
// two frames, the light dimming, the close-up, a rename and the script's repeat at frame 9.
constexpr char kEvents[] =
    R"("paced": false, "seed": 7, "color_pitch_padding": 8, "period": 0.3,
       "second_person_enter": -1.5, "second_person_leave": 2.2, "lose_face_at": 0.1,
       "lose_face_frames": 2, "dim_start": -1.0, "dim_end": 0.2, "close_at": 0.15,
       "rename_every": 0.2, "depth_sizes": [[640, 480], [320, 240], [480, 360]])";
constexpr int kFrames = 10;

// FNV-1a, over the bytes as they are: a single changed bit shows.
class Hash {
 public:
  void Add(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) value_ = (value_ ^ bytes[i]) * 0x100000001B3ull;
  }
  template <typename T>
  void Add(const T& value) {
    Add(&value, sizeof(value));
  }
  uint64_t value() const { return value_; }

 private:
  uint64_t value_ = 0xCBF29CE484222325ull;
};

enum Output {
  kColour,
  kRgb,
  kDepth,
  kSegmentation,
  kMapped,
  kMask,
  kPersons,
  kBoxes,
  kPoses,
  kLandmarks,
  kOutputs
};
constexpr const char* kOutputNames[kOutputs] = {
    "colour",     "rgb",           "depth", "segmentation", "mapped depth",
    "truth mask", "truth persons", "boxes", "poses",        "landmarks"};

struct Streams {
  bool model;  // the build's face model, else the painted face
  PXCSizeI32 color, depth;
  uint64_t expected[kOutputs];
};

void AddImage(PXCImage* image, PXCImage::PixelFormat format, Hash* hash) {
  ASSERT_NE(image, nullptr);
  const PXCImage::ImageInfo info = image->QueryInfo();
  PXCImage::ImageData data{};
  ASSERT_EQ(image->AcquireAccess(PXCImage::ACCESS_READ, format, &data), PXC_STATUS_NO_ERROR);
  hash->Add(info);
  hash->Add(data.planes[0], size_t(data.pitches[0]) * info.height);
  image->ReleaseAccess(&data);
}

void AddFaces(PXCFaceData* faces, Hash* boxes, Hash* poses, Hash* landmarks) {
  ASSERT_EQ(faces->Update(), PXC_STATUS_NO_ERROR);
  for (int32_t i = 0; i < faces->QueryNumberOfDetectedFaces(); ++i) {
    PXCFaceData::Face* face = faces->QueryFaceByIndex(i);
    PXCRectI32 rect{};
    float depth = 0;
    boxes->Add(face->QueryUserID());
    boxes->Add(face->QueryDetection()->QueryBoundingRect(&rect));
    boxes->Add(face->QueryDetection()->QueryFaceAverageDepth(&depth));
    boxes->Add(rect);
    boxes->Add(depth);
    PXCFaceData::PoseEulerAngles angles{};
    PXCFaceData::HeadPosition head{};
    poses->Add(face->QueryPose()->QueryPoseAngles(&angles));
    poses->Add(face->QueryPose()->QueryHeadPosition(&head));
    poses->Add(angles);
    poses->Add(head);
    std::vector<PXCFaceData::LandmarkPoint> points(
        size_t(face->QueryLandmarks()->QueryNumPoints()));
    face->QueryLandmarks()->QueryPoints(points.data());
    landmarks->Add(points.data(), points.size() * sizeof(points[0]));
  }
}

void AddTruth(PXCSimulationTruth* truth, Hash* mask, Hash* persons) {
  persons->Add(truth->QueryFrameNumber());
  for (int32_t i = 0; i < truth->QueryNumberOfPersons(); ++i) {
    PXCSimulationTruth::Person person{};
    ASSERT_EQ(truth->QueryPerson(i, &person), PXC_STATUS_NO_ERROR);
    persons->Add(person);
  }
  PXCSizeI32 size{};
  const uint8_t* pixels = truth->QueryPersonMask(&size);
  mask->Add(size);
  mask->Add(pixels, size_t(size.width) * size.height);
}

// Renders the run's first frames in a fresh sense manager of the session; every output's hash.
void Render(PXCSession* session, const Streams& run, uint64_t out[kOutputs]) {
  void* instance = nullptr;
  ASSERT_EQ(session->CreateImpl(nullptr, PXCSenseManager::CUID, &instance), PXC_STATUS_NO_ERROR);
  std::unique_ptr<PXCSenseManager, void (*)(PXCSenseManager*)> manager(
      static_cast<PXCSenseManager*>(instance), [](PXCSenseManager* m) { m->Release(); });
  ASSERT_EQ(manager->EnableStream(PXCCapture::STREAM_TYPE_COLOR, run.color.width, run.color.height,
                                  30, 0),
            PXC_STATUS_NO_ERROR);
  ASSERT_EQ(manager->EnableStream(PXCCapture::STREAM_TYPE_DEPTH, run.depth.width, run.depth.height,
                                  30, 0),
            PXC_STATUS_NO_ERROR);
  ASSERT_EQ(manager->EnableModule(PXCFaceModule::CUID), PXC_STATUS_NO_ERROR);
  ASSERT_EQ(manager->EnableModule(PXC3DSeg::CUID), PXC_STATUS_NO_ERROR);
  ASSERT_EQ(manager->Init(), PXC_STATUS_NO_ERROR);
  auto* face_module = static_cast<PXCFaceModule*>(manager->QueryModule(PXCFaceModule::CUID));
  auto* segmentation = static_cast<PXC3DSeg*>(manager->QueryModule(PXC3DSeg::CUID));
  auto* truth = static_cast<PXCSimulationTruth*>(manager->QueryInstance(PXCSimulationTruth::CUID));
  ASSERT_TRUE(face_module && segmentation && truth);
  std::unique_ptr<PXCFaceData, void (*)(PXCFaceData*)> faces(face_module->CreateOutput(),
                                                             [](PXCFaceData* f) { f->Release(); });
  std::unique_ptr<PXCProjection, void (*)(PXCProjection*)> projection(
      manager->QueryCaptureManager()->QueryDevice()->CreateProjection(),
      [](PXCProjection* p) { p->Release(); });
  Hash hashes[kOutputs];
  for (int frame = 0; frame < kFrames; ++frame) {
    ASSERT_EQ(manager->AcquireFrame(true, -1), PXC_STATUS_NO_ERROR);
    const PXCCapture::Sample* sample = manager->QuerySample();
    AddImage(sample->color, PXCImage::PIXEL_FORMAT_ANY, &hashes[kColour]);
    AddImage(sample->color, PXCImage::PIXEL_FORMAT_RGB24, &hashes[kRgb]);
    AddImage(sample->depth, PXCImage::PIXEL_FORMAT_ANY, &hashes[kDepth]);
    PXCImage* segmented = segmentation->AcquireSegmentedImage();
    AddImage(segmented, PXCImage::PIXEL_FORMAT_ANY, &hashes[kSegmentation]);
    segmented->Release();
    PXCImage* mapped = projection->CreateDepthImageMappedToColor(sample->depth, sample->color);
    AddImage(mapped, PXCImage::PIXEL_FORMAT_ANY, &hashes[kMapped]);
    mapped->Release();
    AddTruth(truth, &hashes[kMask], &hashes[kPersons]);
    AddFaces(faces.get(), &hashes[kBoxes], &hashes[kPoses], &hashes[kLandmarks]);
    manager->ReleaseFrame();
  }
  for (int i = 0; i < kOutputs; ++i) out[i] = hashes[i].value();
}

// A session of the built library over the scenario; released by the caller.
PXCSession* OpenSession(const std::string& scenario_json) {
  void* library = dlopen(PXCSESSION_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  auto factory =
      reinterpret_cast<PXCSessionCreateExtFunction>(dlsym(library, "PXCSession_CreateExt"));
  const std::string file =
      testing::TempDir() + "runtime_frames_" + std::to_string(getpid()) + ".json";
  std::ofstream(file) << "{" << scenario_json << "}";
  setenv("VANTISOL_CAMERA_SCENARIO", file.c_str(), 1);
  PXCSession* session = nullptr;
  factory(8, 0, 24, 0, 0, 0, &session);
  unsetenv("VANTISOL_CAMERA_SCENARIO");
  std::remove(file.c_str());
  return session;
}

using SessionPtr = std::unique_ptr<PXCSession, void (*)(PXCSession*)>;
SessionPtr Session(const std::string& scenario_json) {
  return SessionPtr(OpenSession(scenario_json), [](PXCSession* s) {
    if (s) s->Release();
  });
}

constexpr Streams kProgramSize = {
    true,
    {1280, 720},
    {640, 480},
    {0x7d7e2bd14ff48d2a, 0xb480bc6ed61da0ff, 0xb90104a22cad9b47, 0x1e08dbb1b6a9f072,
     0x83a051ccbd61cb69, 0xe2503f45b17b1d33, 0xeb2de33be1b4f1ef, 0xc25ddc0d361a8fbd,
     0xa07e16f07d2e5a74, 0xd6e60e904355278d}};

// Runs in order on one session per face kind: the last repeats the first after another size, so
// anything a session keeps between sense managers must follow the size.
constexpr Streams kStreams[] = {
    kProgramSize,
    {true,
     {640, 480},
     {320, 240},
     {0x94c7d85420a126b3, 0x6cccdc4a62ed9efe, 0x2c3030d005cdfb57, 0x3de4799a79d02c74,
      0x80c6aa6d8adb1028, 0x5eb60417c0c44412, 0x885d3460984d498b, 0xf247f3a45a73c4a1,
      0xa07e16f07d2e5a74, 0x8397fa24737b033c}},
    {false,
     {960, 540},
     {480, 360},
     {0x0ce14bb2d32b8d61, 0x9291704e8653aee7, 0x16ec1fea646dbf03, 0x0185154d0db19049,
      0x0840cfca1ad99a3a, 0xa3ac5d5bd699949d, 0x9c22cf1820a5dc2c, 0xf8e521abd256dbe3,
      0xa07e16f07d2e5a74, 0x920c1f430d54f6ea}},
    kProgramSize,
};

TEST(RuntimeFramesTest, EveryOutputMatchesItsRecordedHash) {
  SessionPtr with_model = Session(kEvents);
  SessionPtr painted = Session(std::string(kEvents) + R"(, "face_model": "/nonexistent")");
  ASSERT_TRUE(with_model && painted);
  for (const Streams& run : kStreams) {
    SCOPED_TRACE(testing::Message()
                 << run.color.width << "x" << run.color.height << " + " << run.depth.width << "x"
                 << run.depth.height << (run.model ? " model" : " painted"));
    uint64_t actual[kOutputs];
    Render(run.model ? with_model.get() : painted.get(), run, actual);
    if (HasFatalFailure()) return;
    char line[400];
    int used = 0;
    for (int i = 0; i < kOutputs; ++i) {
      EXPECT_EQ(actual[i], run.expected[i]) << kOutputNames[i];
      used += std::snprintf(line + used, sizeof(line) - size_t(used), "0x%016" PRIx64 "%s",
                            actual[i], i + 1 < kOutputs ? ", " : "");
    }
    if (std::memcmp(actual, run.expected, sizeof(actual)) != 0)
      ADD_FAILURE() << "now {" << line << "}";
  }
}

int Threads() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// Sessions come and go as the program switches cameras: each must take its threads with it.
TEST(RuntimeFramesTest, AnEndedSessionLeavesNoThreads) {
  const int before = Threads();
  for (int round = 0; round < 3; ++round) {
    SessionPtr session = Session(kEvents);
    ASSERT_TRUE(session);
    uint64_t unused[kOutputs];
    const Streams small{true, {640, 480}, {320, 240}, {}};
    Render(session.get(), small, unused);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(Threads(), before);
}

}  // namespace
}  // namespace pxcsim
