// The published pictures, watermark included, of fixed simulated frames in every mode and view,
// against checksums taken before the render thread's passes were reordered and trimmed: a pass
// that is skipped or redirected must not change a single pixel.
//
// VANTISOL_PRINT_OUTPUT_HASHES=1 prints the table below from the code as it is; take it again only
// when the pictures are meant to change (or the simulated camera's frames did, which the input
// checksum tells apart).
#include <gtest/gtest.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>

#include "algorithms/renderer.h"
#include "gl_test.h"
#include "opengl/locked_texture.h"
#include "pipeline_test_support.h"
#include "watermark_renderer/watermark_renderer.h"

namespace vantisol {
namespace {

struct Fnv {
  uint64_t value = 1469598103934665603ull;
  void Add(const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < bytes; ++i) value = (value ^ p[i]) * 1099511628211ull;
  }
  void Add(const Image& image) {
    Add(&image.size, sizeof(image.size));
    if (!image.empty() && image.data) {
      Add(image.data.get(),
          size_t(image.size.width) * image.size.height * Image::pixel_size(image.format));
    }
  }
};

struct Case {
  const char* name;
  int mode = 0;
  bool personify = false;
  bool automatic_camera = true;
  bool face_effects = false;  // gaze correction and face undistortion
  Size output{1280, 720};
  bool grey = false;
  bool bilateral = false;
  bool depthmap = false;
  bool mesh_and_landmarks = false;
  bool boxes = false;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

Case Make(const char* name, int mode, bool personify, bool automatic_camera) {
  Case c;
  c.name = name;
  c.mode = mode;
  c.personify = personify;
  c.automatic_camera = automatic_camera;
  return c;
}

// The input frames' checksum: when it differs, the simulation changed, not the pipeline.
constexpr uint64_t kInputHash = 0xf191304432d9ed7dull;
// The checksum of every case's published pictures, by name.
const std::map<std::string, uint64_t> kExpected = {
    {"mode 0 640x480 auto off", 0x0dd9a2526e1348d4ull},
    {"mode 0 640x480 gaze undistortion auto off", 0xf1f2191e852bee85ull},
    {"mode 0 640x480", 0xe85eb8dc8f3f8942ull},
    {"mode 0 bilateral", 0x842c5761e3b7a8c2ull},
    {"mode 0 camera auto off", 0xbc4cbb96c8800250ull},
    {"mode 0 camera", 0x018a98cda0beb5aeull},
    {"mode 0 depth map auto off", 0xe906b5897a2f466full},
    {"mode 0 gaze undistortion auto off", 0xf4018ce432aa3d3bull},
    {"mode 0 gaze undistortion", 0x1ec182ba59cb8b7bull},
    {"mode 0 mesh landmarks", 0xb37ec22d8f8f5febull},
    {"mode 0 own auto off", 0xbc4cbb96c8800250ull},
    {"mode 0 own", 0x018a98cda0beb5aeull},
    {"mode 1 camera auto off", 0x43e44c38b61d14baull},
    {"mode 1 camera boxes", 0x8391cda47d75586dull},
    {"mode 1 camera gaze undistortion", 0x1105e45d46f92e51ull},
    {"mode 1 camera", 0xe812a7a3b5827d61ull},
    {"mode 1 own auto off", 0x3f59b45a49b27918ull},
    {"mode 1 own grey", 0x1c1c8db9d94f3aadull},
    {"mode 1 own", 0x843946ac43e5c76cull},
    {"mode 2 camera auto off", 0x0b9be449178f84c7ull},
    {"mode 2 camera grey", 0x3dd15b8ecc538669ull},
    {"mode 2 camera", 0x7e40531418c9bb50ull},
    {"mode 2 own auto off", 0x44e332180e4f7d98ull},
    {"mode 2 own depth map", 0x4063a3ef73a3a68full},
    {"mode 2 own", 0xc7a6dfd73d594282ull},
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (int mode = 0; mode < 3; ++mode)
    for (bool personify : {true, false})
      for (bool automatic : {true, false}) {
        static const char* names[3][2][2] = {
            {{"mode 0 own auto off", "mode 0 own"}, {"mode 0 camera auto off", "mode 0 camera"}},
            {{"mode 1 own auto off", "mode 1 own"}, {"mode 1 camera auto off", "mode 1 camera"}},
            {{"mode 2 own auto off", "mode 2 own"}, {"mode 2 camera auto off", "mode 2 camera"}}};
        cases.push_back(Make(names[mode][personify][automatic], mode, personify, automatic));
      }
  Case c = Make("mode 0 gaze undistortion", 0, false, true);
  c.face_effects = true;
  cases.push_back(c);
  c = Make("mode 0 gaze undistortion auto off", 0, false, false);
  c.face_effects = true;
  cases.push_back(c);
  c = Make("mode 1 camera gaze undistortion", 1, true, true);
  c.face_effects = true;
  cases.push_back(c);
  c = Make("mode 0 640x480 auto off", 0, false, false);
  c.output = {640, 480};
  cases.push_back(c);
  c = Make("mode 0 640x480 gaze undistortion auto off", 0, false, false);
  c.output = {640, 480};
  c.face_effects = true;
  cases.push_back(c);
  c = Make("mode 0 640x480", 0, false, true);
  c.output = {640, 480};
  cases.push_back(c);
  c = Make("mode 1 own grey", 1, false, false);
  c.grey = true;
  cases.push_back(c);
  c = Make("mode 2 camera grey", 2, true, true);
  c.grey = true;
  cases.push_back(c);
  c = Make("mode 0 bilateral", 0, false, true);
  c.bilateral = true;
  cases.push_back(c);
  c = Make("mode 0 depth map auto off", 0, false, false);
  c.depthmap = true;
  cases.push_back(c);
  c = Make("mode 2 own depth map", 2, false, true);
  c.depthmap = true;
  cases.push_back(c);
  c = Make("mode 0 mesh landmarks", 0, false, true);
  c.mesh_and_landmarks = true;
  cases.push_back(c);
  c = Make("mode 1 camera boxes", 1, true, false);
  c.boxes = true;
  cases.push_back(c);
  return cases;
}

// Two people, both in the picture from the start; no lost or renamed faces.
const char kTwoStanding[] = R"({"second_person_enter": -2, "second_person_leave": 60,
                                 "lose_face_at": 100, "rename_every": 100})";

// Two people with the camera's segmentation; time stamps made regular so that nothing depends on
// when the simulation ran.
const std::vector<std::shared_ptr<const ImageData>>& Frames() {
  static const std::vector<std::shared_ptr<const ImageData>> frames = [] {
    std::vector<std::shared_ptr<const ImageData>> result;
    int64_t n = 0;
    for (const test::TrueFrame& input : test::CaptureFrames(8, true, 3, kTwoStanding)) {
      const ImageData& f = *input.frame;
      CameraImage color = f.color, depth = f.depth, segmentation = f.segmentation;
      color.time_stamp = depth.time_stamp = segmentation.time_stamp = 1000000000 + n++ * 33333333;
      result.push_back(std::make_shared<const ImageData>(color, segmentation, depth, f.mapped_depth,
                                                         f.faces, f.latency));
    }
    return result;
  }();
  return frames;
}

uint64_t InputHash() {
  Fnv fnv;
  for (const auto& frame : Frames()) {
    fnv.Add(frame->color);
    fnv.Add(frame->depth);
    fnv.Add(frame->segmentation);
    for (const auto& [id, face] : frame->faces) {
      fnv.Add(&id, sizeof(id));
      fnv.Add(&face.rect, sizeof(face.rect));
      fnv.Add(&face.average_depth, sizeof(face.average_depth));
    }
  }
  return fnv.value;
}

uint64_t OutputHash(const Case& c) {
  WatermarkRenderer watermark;
  test::PipelineRig rig(c.output, false);
  rig.before_read = [&watermark](const std::shared_ptr<LockedTexture>& texture) {
    watermark.Render(texture);
  };
  VantisolPipeline& pipeline = *rig.pipeline;
  pipeline.SetBackgroundMode(c.mode);
  pipeline.SetPersonify(c.personify);
  pipeline.SetAutomaticCamera(c.automatic_camera);
  pipeline.SetGazeCorrection(c.face_effects);
  pipeline.SetFaceUndistortion(c.face_effects);
  pipeline.SetBwSegmentation(c.grey);
  pipeline.SetBilateralFilter(c.bilateral);
  pipeline.SetDrawFaces(c.boxes);
  rig.Start();
  {
    auto renderer = pipeline.renderer();
    EXPECT_TRUE(renderer);
    if (renderer) {
      renderer->draw_depthmap_ = c.depthmap;
      renderer->draw_mesh_ = c.mesh_and_landmarks;
      renderer->draw_landmarks_ = c.mesh_and_landmarks;
    }
  }
  Fnv fnv;
  for (const auto& frame : Frames()) fnv.Add(rig.Process(frame));
  return fnv.value;
}

class OutputIdentityTest : public testing::TestWithParam<Case> {};

TEST_P(OutputIdentityTest, GivesTheKnownPictures) {
  ASSERT_EQ(Frames().size(), 8u);
  const Case& c = GetParam();
  const bool print = std::getenv("VANTISOL_PRINT_OUTPUT_HASHES") != nullptr;
  const uint64_t input = InputHash();
  ASSERT_TRUE(print || input == kInputHash)
      << "the simulated camera's frames changed: the table no longer applies";
  const uint64_t hash = OutputHash(c);
  if (print) {
    for (const auto& frame : Frames()) std::printf("faces %zu ", frame->faces.size());
    std::printf("input 0x%016" PRIx64 "ull\n    {\"%s\", 0x%016" PRIx64 "ull},\n", input, c.name,
                hash);
    return;
  }
  const auto expected = kExpected.find(c.name);
  ASSERT_NE(expected, kExpected.end()) << c.name;
  EXPECT_EQ(hash, expected->second) << c.name;
}

INSTANTIATE_TEST_SUITE_P(EveryModeAndView, OutputIdentityTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace vantisol
