// The face renderer over the simulated camera: where its effects may change the picture, when they
// fade in and out, and the crop to the output's aspect, against the simulation's truth.
#include <gtest/gtest.h>

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "algorithms/renderer.h"
#include "face_tracking/face_tracker.h"
#include "gl_test.h"
#include "opengl/texture.h"
#include "pipeline_test_support.h"

namespace vantisol {
namespace {

using test::TrueFrame;

using test::kOnePerson;
using test::kTwoPeople;

struct Box {
  float x0, y0, x1, y1;
  bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// The true face box grown by `grow` of its size on every side, in output pixels (the output shows
// the central crop stretched).
Box OutputBox(const PXCRectI32& box, float grow, Size color, Size crop, Size output) {
  const float offset = (color.width - crop.width) / 2;
  const float sx = float(output.width) / crop.width, sy = float(output.height) / crop.height;
  const float gx = box.w * grow, gy = box.h * grow;
  return {(box.x - gx - offset) * sx, (box.y - gy) * sy, (box.x + box.w + gx - offset) * sx,
          (box.y + box.h + gy) * sy};
}

struct Changes {
  long inside = 0;                 // changed pixels inside any allowed box
  long outside = 0;                // changed pixels elsewhere
  std::vector<long> per_box;       // changed pixels inside each box
  int worst_x = -1, worst_y = -1;  // one changed pixel outside, for the message
};

Changes Compare(const Image& a, const Image& b, const std::vector<Box>& boxes) {
  Changes changes;
  changes.per_box.assign(boxes.size(), 0);
  const uint8_t* pa = a.data.get();
  const uint8_t* pb = b.data.get();
  for (int y = 0; y < a.size.height; ++y) {
    for (int x = 0; x < a.size.width; ++x) {
      const size_t i = (size_t(y) * a.size.width + x) * 3;
      if (pa[i] == pb[i] && pa[i + 1] == pb[i + 1] && pa[i + 2] == pb[i + 2]) continue;
      bool in = false;
      for (size_t k = 0; k < boxes.size(); ++k) {
        if (boxes[k].Contains(x, y)) changes.per_box[k]++, in = true;
      }
      if (in) {
        ++changes.inside;
      } else {
        ++changes.outside;
        changes.worst_x = x, changes.worst_y = y;
      }
    }
  }
  return changes;
}

// Writes a picture when VANTISOL_TEST_PICTURES names a folder, for looking at.
void Keep(const Image& image, const std::string& name) {
  const char* folder = std::getenv("VANTISOL_TEST_PICTURES");
  if (folder == nullptr) return;
  cv::Mat rgb(image.size.height, image.size.width, CV_8UC3, image.data.get());
  cv::Mat bgr;
  cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
  cv::imwrite(std::string(folder) + "/" + name + ".png", bgr);
}

void GazeOn(Renderer& renderer) {
  renderer.enable_gaze_correction_ = true;
  renderer.face_rotation_amount_ = renderer.eye_rotation_amount_ = 30;
}

void UndistortionOn(Renderer& renderer, int amount) {
  renderer.enable_face_undistortion_ = true;
  renderer.face_undistortion_amount_ = amount;
}

// The tracker and renderers fed frame by frame, as the render thread does.
class FaceRun {
 public:
  // Effects off, gaze correction at the default amount, full undistortion.
  explicit FaceRun(Size output) : output_(output) {
    GazeOn(gaze);
    UndistortionOn(undistorted, 100);
  }

  void Feed(const TrueFrame& input) {
    frame_ = input.frame;
    tracker_.Update(frame_);
    color_.Assign(test::CpuRgb(frame_->color));
    depth_.Assign(frame_->depth);
  }
  Image Render(Renderer& renderer) {
    renderer.Render(color_, depth_, frame_, tracker_, output_);
    return renderer.output().Download(Image::Format::kRGB);
  }
  FaceTracker& tracker() { return tracker_; }

  Renderer off, gaze, undistorted;

 private:
  Size output_;
  FaceTracker tracker_;
  Texture color_{Image::Format::kRGB};
  Texture depth_{Image::Format::kGray16};
  std::shared_ptr<const ImageData> frame_;
};

// Degrees between the head's forward direction (-z in head space, y down) and the direction to
// the colour camera, from the simulation's head position and angles.
float TrueHeadAngle(const PXCSimulationTruth::Person& person) {
  const float kPi = 3.14159265f;
  const float y = person.yaw * kPi / 180, p = person.pitch * kPi / 180;
  // Forward is unchanged by roll; yaw about y, then pitch about x, as the scene builds its turn.
  const cv::Matx33f yaw(std::cos(y), 0, std::sin(y), 0, 1, 0, -std::sin(y), 0, std::cos(y));
  const cv::Matx33f pitch(1, 0, 0, 0, std::cos(p), -std::sin(p), 0, std::sin(p), std::cos(p));
  const cv::Vec3f forward = yaw * pitch * cv::Vec3f(0, 0, -1);
  // Truth positions are y up; the scene's are y down.
  const cv::Vec3f head(person.head_position.x, -person.head_position.y, person.head_position.z);
  const cv::Vec3f to_camera = -head / cv::norm(head);
  return std::acos(std::clamp(forward.dot(to_camera), -1.0f, 1.0f)) * 180 / kPi;
}

TEST(FaceWeightsTest, AngleDistanceAndFadeOnBothSidesOfTheirThresholds) {
  // Angle: none up to 20 degrees, then a Gaussian fall-off that crosses the 0.01 draw limit
  // between 26 and 27 degrees.
  EXPECT_FLOAT_EQ(ComputeFaceWeights(1, 20, 0.6f, true, false).undistortion, 1);
  EXPECT_GT(ComputeFaceWeights(1, 26, 0.6f, true, false).undistortion, 0.01f);
  EXPECT_NEAR(ComputeFaceWeights(1, 26, 0.6f, true, false).undistortion, 0.0111, 1e-4);
  EXPECT_LT(ComputeFaceWeights(1, 27, 0.6f, true, false).undistortion, 0.01f);
  EXPECT_NEAR(ComputeFaceWeights(1, 27, 0.6f, true, false).angle, 0.00219, 1e-5);
  // Distance: none up to 0.9 m, a steep fall-off beyond.
  EXPECT_FLOAT_EQ(ComputeFaceWeights(1, 0, 0.9f, true, false).distance, 1);
  EXPECT_NEAR(ComputeFaceWeights(1, 0, 0.95f, true, false).undistortion, 0.0439, 1e-4);
  EXPECT_NEAR(ComputeFaceWeights(1, 0, 1.0f, true, false).distance, 3.7e-6, 1e-7);
  // The fade weight caps both effects; gaze ignores angle and distance; off means zero.
  const FaceWeights far_turned = ComputeFaceWeights(0.4f, 40, 1.2f, true, true);
  EXPECT_FLOAT_EQ(far_turned.gaze, 0.4f);
  EXPECT_LT(far_turned.undistortion, 1e-6f);
  EXPECT_FLOAT_EQ(ComputeFaceWeights(0.4f, 0, 0.5f, true, true).undistortion, 0.4f);
  EXPECT_EQ(ComputeFaceWeights(1, 0, 0.5f, false, false).undistortion, 0);
  EXPECT_EQ(ComputeFaceWeights(1, 0, 0.5f, false, false).gaze, 0);
}

// One person for 45 frames from the start of the script: the fade-in, then the effects at full
// weight; the output is compared with an effects-off renderer fed alike.
TEST(FaceRenderingTest, EffectsChangeOnlyTheFaceAndFadeInOverReliableFrames) {
  const auto frames = test::CaptureAll(45, 0, kOnePerson);
  ASSERT_FALSE(frames.empty());
  const Size color = frames[0].frame->color.size;
  FaceRun run(color);
  Renderer &off = run.off, &gaze = run.gaze, &undistorted = run.undistorted;
  float previous = 0;
  int first_drawn = -1, first_full = -1;
  long gaze_changes = 0, undistortion_changes = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    run.Feed(frames[i]);
    const Image plain = run.Render(off);
    const Image turned = run.Render(gaze);
    const Image flattened = run.Render(undistorted);
    // With the effects off the output is the picture itself, face or not.
    EXPECT_EQ(test::Compare(plain, test::CpuRgb(frames[i].frame->color), 0).over, 0);
    ASSERT_EQ(gaze.face_weights().size(), 1u);
    const int id = gaze.face_weights().begin()->first;
    const float weight = gaze.face_weights().at(id).gaze;
    EXPECT_GE(weight, previous);
    previous = weight;
    // The pass runs only above the 0.01 limit, and then changes the picture.
    EXPECT_EQ(gaze.mesh_drawn().at(id), weight > 0.01f);
    ASSERT_EQ(frames[i].persons.size(), 1u);
    const std::vector<Box> face = {OutputBox(frames[i].persons[0].box, 0.15f, color, color, color)};
    const Changes by_gaze = Compare(plain, turned, face);
    const Changes by_undistortion = Compare(plain, flattened, face);
    EXPECT_EQ(by_gaze.outside, 0) << by_gaze.worst_x << "," << by_gaze.worst_y;
    EXPECT_EQ(by_undistortion.outside, 0)
        << by_undistortion.worst_x << "," << by_undistortion.worst_y;
    if (weight <= 0.01f) {
      EXPECT_EQ(by_gaze.inside, 0);
    } else {
      if (first_drawn < 0) first_drawn = int(i);
      EXPECT_GT(by_gaze.inside, 0);
    }
    if (weight == 1 && first_full < 0) first_full = int(i);
    gaze_changes += by_gaze.inside;
    undistortion_changes += by_undistortion.inside;
    if (i == frames.size() - 1) {
      Keep(plain, "face_off");
      Keep(turned, "face_gaze");
      Keep(flattened, "face_undistortion");
    }
  }
  // Nine frames to become reliable, then 0.05 a frame: twenty frames from the first step to one.
  EXPECT_EQ(first_full - first_drawn, 19);
  EXPECT_GT(gaze_changes, 1000);
  EXPECT_GT(undistortion_changes, 1000);
}

// A 16:9 picture shown at 4:3: the central band, and the effects confined to the face's place in
// it.
TEST(FaceRenderingTest, NarrowOutputKeepsTheEffectsOnTheFace) {
  const auto frames = test::CaptureAll(35, 0, kOnePerson);
  ASSERT_FALSE(frames.empty());
  const Size color = frames[0].frame->color.size;
  const Size output{640, 480};
  FaceRun run(output);
  Renderer off, both;
  GazeOn(both);
  UndistortionOn(both, 25);
  for (const TrueFrame& input : frames) {
    run.Feed(input);
    run.Render(off);
    run.Render(both);
  }
  const Image plain = off.output().Download(Image::Format::kRGB);
  const Image effects = both.output().Download(Image::Format::kRGB);
  const Size crop{color.height * 4 / 3, color.height};
  EXPECT_EQ(off.crop_size(), crop);
  const std::vector<Box> face = {
      OutputBox(frames.back().persons.at(0).box, 0.15f, color, crop, output)};
  const Changes changes = Compare(plain, effects, face);
  EXPECT_EQ(changes.outside, 0) << changes.worst_x << "," << changes.worst_y;
  EXPECT_GT(changes.inside, 500);
  Keep(effects, "face_narrow");
}

// Two people: the near one gets both effects, the one at 1.15 m only the gaze correction, since
// undistortion fades out with distance.
TEST(FaceRenderingTest, TwoFacesEachChangedInTheirOwnBoxAndTheFarOneNotUndistorted) {
  const auto frames = test::CaptureAll(40, 60, kTwoPeople);
  ASSERT_FALSE(frames.empty());
  const Size color = frames[0].frame->color.size;
  FaceRun run(color);
  Image plain, turned, flattened;
  int facing = 0, turned_away = 0;
  for (const TrueFrame& input : frames) {
    run.Feed(input);
    plain = run.Render(run.off);
    turned = run.Render(run.gaze);
    flattened = run.Render(run.undistorted);
    // The angle weight against the true head angle of each person (told apart by side: the
    // tracked ids are the stabiliser's), with two degrees of tracking error allowed below 20
    // degrees.
    for (const auto& [id, weights] : run.undistorted.face_weights()) {
      const FaceTemplate& face = *run.tracker().face_templates_.at(id);
      const PXCSimulationTruth::Person* nearest = nullptr;
      for (const auto& person : input.persons) {
        const float x = person.head_position.x / 1000, z = person.head_position.z / 1000;
        const Eigen::Vector3f t = face.pose_.translation();
        if (!nearest || std::hypot(x - t.x(), z - t.z()) <
                            std::hypot(nearest->head_position.x / 1000 - t.x(),
                                       nearest->head_position.z / 1000 - t.z())) {
          nearest = &person;
        }
      }
      ASSERT_NE(nearest, nullptr);
      const float truth = TrueHeadAngle(*nearest);
      SCOPED_TRACE("true angle " + std::to_string(truth));
      if (truth < 18) {
        EXPECT_FLOAT_EQ(weights.angle, 1);
        ++facing;
      }
      if (truth > 31) {
        EXPECT_LT(weights.angle, 0.01f);
        ++turned_away;
      }
      EXPECT_FLOAT_EQ(weights.undistortion,
                      std::min({weights.angle, weights.distance, face.weight_}));
    }
  }
  EXPECT_GT(facing, 0);
  EXPECT_GT(turned_away, 0);
  const TrueFrame& last = frames.back();
  ASSERT_EQ(last.persons.size(), 2u);
  ASSERT_EQ(run.undistorted.face_weights().size(), 2u);
  std::vector<Box> boxes;
  int far_index = 0;
  for (size_t k = 0; k < last.persons.size(); ++k) {
    boxes.push_back(OutputBox(last.persons[k].box, 0.15f, color, color, color));
    if (last.persons[k].head_position.z > last.persons[far_index].head_position.z) {
      far_index = int(k);
    }
  }
  ASSERT_GT(last.persons[far_index].head_position.z, 1000);
  const Changes by_gaze = Compare(plain, turned, boxes);
  EXPECT_EQ(by_gaze.outside, 0) << by_gaze.worst_x << "," << by_gaze.worst_y;
  EXPECT_GT(by_gaze.per_box[0], 200);
  EXPECT_GT(by_gaze.per_box[1], 200);

  const Changes by_undistortion = Compare(plain, flattened, boxes);
  EXPECT_EQ(by_undistortion.outside, 0);
  EXPECT_GT(by_undistortion.per_box[1 - far_index], 200);
  EXPECT_EQ(by_undistortion.per_box[far_index], 0);
  int drawn = 0;
  for (const auto& [id, weights] : run.undistorted.face_weights()) {
    EXPECT_EQ(run.undistorted.mesh_drawn().at(id), weights.undistortion > 0.01f);
    drawn += run.undistorted.mesh_drawn().at(id);
  }
  EXPECT_EQ(drawn, 1);
  for (const auto& [id, weights] : run.gaze.face_weights()) EXPECT_FLOAT_EQ(weights.gaze, 1) << id;
  Keep(turned, "two_gaze");
  Keep(flattened, "two_undistortion");
}

// The pipeline's switches reach the renderer: gaze correction set before the render thread builds
// its resources, undistortion switched on and gaze correction off while frames flow.
TEST(FaceRenderingTest, PipelineSwitchesReachTheRenderer) {
  const auto frames = test::CaptureAll(32, 0, kOnePerson);
  ASSERT_FALSE(frames.empty());
  test::PipelineRig plain({1280, 720}, false), effects({1280, 720}, false);
  for (test::PipelineRig* rig : {&plain, &effects}) rig->pipeline->SetColorCorrection(false);
  effects.pipeline->SetGazeCorrection(true);
  effects.pipeline->SetGazeCorrectionAmount(60);
  plain.Start();
  effects.Start();
  const Size color = frames[0].frame->color.size;
  for (size_t i = 0; i + 2 < frames.size(); ++i) {
    const Image a = plain.Process(frames[i].frame), b = effects.Process(frames[i].frame);
    if (i + 3 < frames.size()) continue;
    const std::vector<Box> face = {
        OutputBox(frames[i].persons.at(0).box, 0.15f, color, color, {1280, 720})};
    const Changes changes = Compare(a, b, face);
    EXPECT_EQ(changes.outside, 0);
    EXPECT_GT(changes.inside, 1000);
  }
  effects.pipeline->SetGazeCorrection(false);
  const TrueFrame& last = frames.back();
  EXPECT_EQ(Compare(plain.Process(frames[frames.size() - 2].frame),
                    effects.Process(frames[frames.size() - 2].frame), {})
                .outside,
            0);
  effects.pipeline->SetFaceUndistortion(true);
  const Changes undistorted =
      Compare(plain.Process(last.frame), effects.Process(last.frame),
              {OutputBox(last.persons.at(0).box, 0.15f, color, color, {1280, 720})});
  EXPECT_EQ(undistorted.outside, 0);
  EXPECT_GT(undistorted.inside, 100);
}

// The debug views: landmark points where the colour camera sees the landmarks (projected here on
// the CPU), the lit mesh drawn with the effects off, and the depth map.
TEST(FaceRenderingTest, DebugViewsDrawLandmarksMeshAndDepthMap) {
  const auto frames = test::CaptureAll(3, 0, kOnePerson);
  ASSERT_FALSE(frames.empty());
  const Size color = frames[0].frame->color.size;
  FaceRun run(color);
  Renderer& landmarks = run.gaze;
  landmarks.enable_gaze_correction_ = false;
  landmarks.draw_landmarks_ = true;
  Renderer& mesh = run.undistorted;
  mesh.enable_face_undistortion_ = false;
  mesh.draw_mesh_ = true;
  mesh.render_mode_ = 0;
  Image plain, points, lit;
  for (const TrueFrame& input : frames) {
    run.Feed(input);
    plain = run.Render(run.off);
    points = run.Render(landmarks);
    lit = run.Render(mesh);
  }
  const ImageData& frame = *frames.back().frame;
  ASSERT_EQ(frame.faces.size(), 1u);
  const Calibration& c = frame.color.calibration;
  std::vector<Box> spots;
  int blue = 0;
  for (const LandmarkData& landmark : frame.faces.begin()->second.landmarks) {
    const float* w = landmark.world.data();
    float p[3];
    for (int r = 0; r < 3; ++r)
      p[r] = c.R[r * 3] * w[0] + c.R[r * 3 + 1] * w[1] + c.R[r * 3 + 2] * w[2] + c.T[r];
    const float u = c.K[0] * p[0] / p[2] + c.K[2], v = c.K[4] * p[1] / p[2] + c.K[5];
    spots.push_back({u - 4, v - 4, u + 4, v + 4});
    const int x = int(u), y = int(v);
    if (x < 0 || y < 0 || x >= color.width || y >= color.height) continue;
    const uint8_t* pixel = points.data.get() + (size_t(y) * color.width + x) * 3;
    blue += pixel[0] == 0 && pixel[1] == 0 && pixel[2] == landmark.confidence_world * 255 / 100;
  }
  const Changes changes = Compare(plain, points, spots);
  EXPECT_EQ(changes.outside, 0) << changes.worst_x << "," << changes.worst_y;
  EXPECT_GT(blue, int(spots.size()) / 2);

  // The lit mesh covers the face; the fade weight of the third frame is above zero.
  EXPECT_TRUE(mesh.mesh_drawn().begin()->second);
  const std::vector<Box> face = {
      OutputBox(frames.back().persons.at(0).box, 0.15f, color, color, color)};
  const Changes by_mesh = Compare(plain, lit, face);
  EXPECT_EQ(by_mesh.outside, 0);
  EXPECT_GT(by_mesh.inside, 5000);
  Keep(points, "debug_landmarks");
  Keep(lit, "debug_mesh");

  run.off.draw_depthmap_ = true;
  EXPECT_GT(Compare(plain, run.Render(run.off), {}).outside, 10000);
  Keep(run.off.output().Download(Image::Format::kRGB), "debug_depthmap");
}

// A tall output keeps a narrow central band whose left border cuts the face: the turned face fades
// out toward that border instead of smearing the band's first column over it.
TEST(FaceRenderingTest, FaceCutByThePictureBorderFadesOut) {
  const auto frames = test::CaptureAll(25, 0, kOnePerson);
  ASSERT_FALSE(frames.empty());
  const Size color = frames[0].frame->color.size;
  const Size output{color.height / 2, color.height};
  FaceRun run(output);
  run.gaze.face_rotation_amount_ = run.gaze.eye_rotation_amount_ = 100;
  Image plain, turned;
  for (const TrueFrame& input : frames) {
    run.Feed(input);
    plain = run.Render(run.off);
    turned = run.Render(run.gaze);
  }
  const Size crop = run.off.crop_size();
  ASSERT_EQ(crop, output);
  const Box face = OutputBox(frames.back().persons.at(0).box, 0, color, crop, output);
  ASSERT_LT(face.x0, 0) << "the face is not cut by the band";
  // Largest change in columns [x0, x1) of the face's rows.
  const auto largest = [&](int x0, int x1) {
    int worst = 0;
    for (int y = std::max(0, int(face.y0)); y < std::min(output.height, int(face.y1)); ++y)
      for (int x = x0; x < x1; ++x)
        for (int c = 0; c < 3; ++c) {
          const size_t i = (size_t(y) * output.width + x) * 3 + c;
          worst = std::max(worst, std::abs(plain.data.get()[i] - turned.data.get()[i]));
        }
    return worst;
  };
  // The face turned by the full amount changes its features by a lot a little way in. In the band's
  // first column (texture coordinate 0.0014, so at most 0.14 of the face shows) the change is a few
  // levels; without the fade it is 9 here.
  const int inner = largest(8, 40), edge = largest(0, 1);
  std::cout << "largest change: first column " << edge << ", columns 8 to 40 " << inner << "\n";
  EXPECT_GT(inner, 40);
  EXPECT_LE(edge, 6);
  Keep(turned, "border_gaze");
}

}  // namespace
}  // namespace vantisol
