// The face renderer's passes at 1280x720 on recorded frames of the simulated camera, one and two
// faces: background only, plus the shadow pass of each face (effects off), plus the mesh pass
// (gaze correction and undistortion on). Each render is closed by glFinish.
#include <glbinding/gl/gl.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "algorithms/renderer.h"
#include "camera/camera_realsense.h"
#include "face_tracking/face_tracker.h"
#include "opengl_qt/opengl_context.h"
#include "utils/logging.h"

using namespace gl;

namespace vantisol {
namespace {

using Frames = std::vector<std::shared_ptr<const ImageData>>;

// `count` frames after the first second of a scenario without lost or renamed faces.
Frames Recording(int count, bool second_person) {
  const std::string file = "/tmp/vantisol-bench-face-renderer.json";
  std::ofstream(file) << "{\"paced\": false, \"lose_face_at\": 100, \"rename_every\": 100, "
                      << (second_person
                              ? R"("second_person_enter": -2, "second_person_leave": 60)"
                              : R"("second_person_enter": 100, "second_person_leave": 101)")
                      << "}";
  setenv("VANTISOL_CAMERA_SCENARIO", file.c_str(), 1);
  Frames frames;
  auto cameras = CameraRealSense::GetCameras();
  if (cameras.empty()) return frames;
  cameras[0]->EnableFaceTracking();
  cameras[0]->EnableDepthmap();
  auto internal = cameras[0]->internal_camera();
  internal->Device();
  while (int(frames.size()) < 30 + count) frames.push_back(internal->Run());
  frames.erase(frames.begin(), frames.begin() + 30);
  return frames;
}

// RGB of a YUY2 picture, nearest chroma; the colour's exactness does not matter here.
Image Rgb(const Image& yuy2) {
  Image rgb(yuy2.size, Image::Format::kRGB);
  const uint8_t* in = yuy2.data.get();
  for (size_t i = 0; i < size_t(yuy2.size.width) * yuy2.size.height; ++i) {
    std::fill_n(rgb.data.get() + i * 3, 3, in[i * 2]);
  }
  return rgb;
}

double Milliseconds(Renderer& renderer, const Texture& color, const Texture& depth,
                    std::shared_ptr<const ImageData> frame, FaceTracker& tracker) {
  glFinish();
  const auto start = std::chrono::steady_clock::now();
  renderer.Render(color, depth, frame, tracker, {1280, 720});
  glFinish();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Measure(const Frames& frames, int faces) {
  FaceTracker tracker;
  Renderer background, shadow, effects;
  effects.enable_gaze_correction_ = effects.enable_face_undistortion_ = true;
  effects.face_rotation_amount_ = effects.eye_rotation_amount_ = 30;
  effects.face_undistortion_amount_ = 25;
  Texture color(Image::Format::kRGB), depth(Image::Format::kGray16);
  std::vector<double> t_background, t_shadow, t_effects;
  int drawn = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const auto& frame = frames[i];
    tracker.Update(frame);
    color.Assign(Rgb(frame->color));
    depth.Assign(frame->depth);
    const auto faceless = std::make_shared<const ImageData>(
        frame->color, frame->segmentation, frame->depth, frame->mapped_depth,
        std::map<int, FaceData>(), frame->latency);
    // The first 30 frames fade the faces in.
    for (int k = 0; k < 3; ++k) {
      const double b = Milliseconds(background, color, depth, faceless, tracker);
      const double s = Milliseconds(shadow, color, depth, frame, tracker);
      const double e = Milliseconds(effects, color, depth, frame, tracker);
      if (i < 30) continue;
      t_background.push_back(b), t_shadow.push_back(s), t_effects.push_back(e);
    }
    if (i >= 30) {
      for (const auto& [id, on] : effects.mesh_drawn()) drawn += on;
    }
  }
  const double b = Median(t_background), s = Median(t_shadow), e = Median(t_effects);
  std::printf("%d face(s) (faces in the last frame: %zu, mesh passes run: %d of %zu)\n", faces,
              frames.back()->faces.size(), drawn, (frames.size() - 30) * faces);
  std::printf("  background only         %7.2f ms\n", b);
  std::printf("  + shadow passes         %7.2f ms  (%.2f ms a face)\n", s, (s - b) / faces);
  std::printf("  + mesh passes (effects) %7.2f ms  (%.2f ms a face)\n", e, (e - s) / faces);
  std::printf("  renderer per face, shadow and mesh pass: %.2f ms\n", (e - b) / faces);
}

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  using namespace vantisol;
  QGuiApplication application(argc, argv);
  for (const auto type : {el::ConfigurationType::ToStandardOutput, el::ConfigurationType::ToFile}) {
    el::Loggers::reconfigureAllLoggers(type, "false");
  }
  OpenGLContext context(false);
  context.CreateContext();
  context.SetContext();
  std::printf("face renderer at 1280x720, median of 3 renders a frame over 30 frames\n");
  for (int faces : {1, 2}) {
    const Frames frames = Recording(60, faces == 2);
    if (frames.empty()) {
      std::printf("no simulated camera\n");
      return 1;
    }
    Measure(frames, faces);
  }
  return 0;
}
