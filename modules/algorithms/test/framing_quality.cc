// The automatic camera on the simulated camera's default scenario, measured against what the
// simulation knows: where each person really stands and how big their face is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "algorithms/face_cropper.h"
#include "camera/camera_realsense.h"
#include "pxc/simulation.h"
#include "test_support.h"

namespace vantisol {
namespace {

Eigen::Vector2d Apply(const Eigen::Matrix3f& m, double x, double y) {
  const Eigen::Vector3d q = m.cast<double>() * Eigen::Vector3d(x, y, 1);
  return {q.x() / q.z(), q.y() / q.z()};
}

// Where the padding rules put a face's centre in its tile, worked out on the continuous box: the
// padded box is 2.45 h high and centred 0.025 h above the face; it is widened (wide tile) or
// heightened (narrow tile) by the ratio of the two aspects, and the view shows its area at the
// tile's aspect around its centre.
Eigen::Vector2d RulePosition(const PXCRectI32& face, Size tile) {
  const double w = face.w, h = face.h, aspect_tile = double(tile.width) / tile.height;
  const double aspect_face = w / h, padded_h = 2.45 * h, padded_w = 1.46 * w;
  const double area = aspect_tile > aspect_face ? padded_h * padded_h * aspect_tile / aspect_face
                                                : padded_w * padded_h * aspect_face / aspect_tile;
  const double zoom = tile.height / std::sqrt(area / aspect_tile);
  return {tile.width / 2.0, tile.height / 2.0 + 0.025 * h * zoom};
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(p * (values.size() - 1) + 0.5))];
}

TEST(FramingQualityTest, ScriptedScenarioAgainstGroundTruth) {
  // The default script's events, closer together: one person moving about, a second person
  // walking in at 1.5 s and out before 7.5 s, a face lost for 5 frames at 3.6 s, a renamed face at
  // 3.3 s. A view follows a walking face only out of its dead zone and rests at the zone's edge, so
  // the loss comes once both stand: the views measured against the padding rules start afresh on
  // people standing still. VANTISOL_FRAMING_DEFAULT_SCENARIO=1 measures the default script itself
  // (13 s).
  const bool full = getenv("VANTISOL_FRAMING_DEFAULT_SCENARIO") != nullptr;
  test::ScopedScenario scenario(full ? "{}" : R"({"lose_face_at": 3.6, "second_person_enter": 1.5,
                                           "second_person_leave": 7.5, "rename_every": 3.3})");
  const int frames = full ? 13 * 30 : 8 * 30;
  auto cameras = CameraRealSense::GetCameras();
  ASSERT_EQ(cameras.size(), 1u);
  auto camera = std::move(cameras[0]);
  camera->EnableFaceTracking();
  // The short script runs on the small colour picture, to keep the test quick; a 4:3 picture in
  // a 16:9 output on the way.
  if (!full) camera->SetColorResolution({640, 480});
  auto internal = camera->internal_camera();
  ASSERT_NE(internal->Device(), nullptr);
  auto* truth = static_cast<PXCSimulationTruth*>(
      internal->sense_manager()->QueryInstance(PXCSimulationTruth::CUID));
  ASSERT_NE(truth, nullptr);

  const Size output{1280, 720};
  FaceCropper cropper;
  size_t previous_count = 0;
  int frames_since_change = 0, resets_checked = 0, two_face_frames = 0, outside = 0;
  int order_errors = 0;
  // Settled tiles (no change in the number of faces for a second): how far the face centre lies
  // from where the view of this instant would put it, and, where that view is not bent by the
  // picture's borders, from where the padding rules put it; as fractions of the tile size.
  std::vector<double> settled_error, rule_error;
  int constrained = 0;
  for (int frame_number = 0; frame_number < frames; ++frame_number) {
    auto frame = internal->Run();
    ASSERT_NE(frame, nullptr) << frame_number;
    const auto tiles = cropper.Update(frame->color, frame->faces, output);
    FaceCropper fresh;
    const auto fresh_tiles = fresh.Update(frame->color, frame->faces, output);
    ASSERT_EQ(tiles.size(), frame->faces.size()) << frame_number;
    const Size input = frame->color.size;

    // The true boxes of the persons whose faces are reported, left to right.
    std::vector<PXCRectI32> boxes;
    for (int i = 0; i < truth->QueryNumberOfPersons(); ++i) {
      PXCSimulationTruth::Person person{};
      ASSERT_EQ(truth->QueryPerson(i, &person), PXC_STATUS_NO_ERROR);
      if (person.user_id >= 0 && frame->faces.count(person.user_id)) boxes.push_back(person.box);
    }
    ASSERT_EQ(boxes.size(), tiles.size()) << frame_number;
    std::sort(boxes.begin(), boxes.end(), [](const PXCRectI32& a, const PXCRectI32& b) {
      return 2 * a.x + a.w < 2 * b.x + b.w;
    });

    frames_since_change = tiles.size() == previous_count ? frames_since_change + 1 : 0;
    if (tiles.size() != previous_count && !tiles.empty()) {
      // The frame the number of faces changes, every view starts afresh.
      for (size_t k = 0; k < tiles.size(); ++k)
        EXPECT_TRUE(tiles[k].matrix == fresh_tiles[k].matrix) << frame_number;
      ++resets_checked;
    }
    previous_count = tiles.size();
    two_face_frames += tiles.size() == 2;

    for (size_t k = 0; k < tiles.size(); ++k) {
      const CropTile& tile = tiles[k];
      const Size tile_size{tile.rectangle.width, tile.rectangle.height};
      const Eigen::Matrix3f inverse = tile.matrix.inverse();
      for (const auto& c : {Eigen::Vector2d(0, 0), Eigen::Vector2d(tile_size.width, 0),
                            Eigen::Vector2d(tile_size.width, tile_size.height),
                            Eigen::Vector2d(0, tile_size.height)}) {
        const Eigen::Vector2d p = Apply(inverse, c.x(), c.y());
        outside += !(p.x() >= -1e-2 && p.x() <= input.width + 1e-2 && p.y() >= -1e-2 &&
                     p.y() <= input.height + 1e-2);
      }
      if (frames_since_change >= 30) {
        // Settled, each tile shows the person standing k-th from the left nearer its centre than
        // any other (a view may trail a walking person for a moment).
        auto distance = [&](const PXCRectI32& b) {
          const Eigen::Vector2d at = Apply(tile.matrix, b.x + b.w / 2.0, b.y + b.h / 2.0);
          return (at - Eigen::Vector2d(tile_size.width / 2.0, tile_size.height / 2.0)).norm();
        };
        for (size_t j = 0; j < boxes.size(); ++j)
          order_errors += j != k && distance(boxes[j]) < distance(boxes[k]);
        const PXCRectI32& b = boxes[k];
        const Eigen::Vector2d at = Apply(tile.matrix, b.x + b.w / 2.0, b.y + b.h / 2.0);
        const Eigen::Vector2d rule = RulePosition(b, tile_size);
        // The view the face would get now, forced inside the picture.
        const Eigen::Vector2d ideal =
            Apply(fresh_tiles[k].matrix, b.x + b.w / 2.0, b.y + b.h / 2.0);
        auto off = [&](const Eigen::Vector2d& a, const Eigen::Vector2d& b) {
          return std::max(std::fabs(a.x() - b.x()) / tile_size.width,
                          std::fabs(a.y() - b.y()) / tile_size.height);
        };
        // A padded box larger than the picture cannot be shown as the rules say.
        if (off(ideal, rule) < 0.01) {
          rule_error.push_back(off(at, rule));
        } else {
          ++constrained;
        }
        settled_error.push_back(off(at, ideal));
      }
    }
  }
  std::cout << "framing: " << settled_error.size() << " settled tiles; face centre off the "
            << "instant view by median " << Percentile(settled_error, 0.5) * 100 << " %, 95th "
            << "percentile " << Percentile(settled_error, 0.95) * 100 << " %, worst "
            << Percentile(settled_error, 1) * 100 << " %; " << constrained
            << " held in by the picture's borders; the other " << rule_error.size()
            << " off the padding rules' place by median " << Percentile(rule_error, 0.5) * 100
            << " %, worst " << Percentile(rule_error, 1) * 100 << " % of the tile size; "
            << two_face_frames << " two-face frames, " << resets_checked << " restarts"
            << std::endl;
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(order_errors, 0);
  EXPECT_GT(two_face_frames, 45);
  EXPECT_GE(resets_checked, 4);  // start, lost and found, second person in and out
  ASSERT_GT(settled_error.size(), 60u);
  EXPECT_LT(Percentile(settled_error, 0.5), 0.05);
  EXPECT_LT(Percentile(rule_error, 0.5), 0.05);
}

}  // namespace
}  // namespace vantisol
