// The automatic camera in the running pipeline: the output is the tiles' view of the picture,
// around the true faces and ordered as the people stand, and the switch and size changes take
// effect on the next frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "algorithms/face_cropper.h"
#include "camera/face_tracking_stabilizer.h"
#include "gl_test.h"
#include "pipeline_test_support.h"

namespace vantisol {
namespace {

using test::kOnePerson;
using test::kTwoPeople;
using test::PipelineRig;
using test::TrueFrame;

// The picture seen through the tiles, warped by OpenCV: the tile matrices take pixel corners
// (centres at + 0.5), OpenCV's warp takes pixel centres. Pixels of no tile are white.
Image Cropped(const Image& rgb, const std::vector<CropTile>& tiles, Size output) {
  Image image(output, Image::Format::kRGB);
  cv::Mat out(output.height, output.width, CV_8UC3, image.data.get());
  out.setTo(cv::Scalar::all(255));
  const cv::Mat in(rgb.size.height, rgb.size.width, CV_8UC3, rgb.data.get());
  for (const CropTile& tile : tiles) {
    Eigen::Matrix3d to_corner = Eigen::Matrix3d::Identity(), to_centre = to_corner;
    to_corner.col(2) << 0.5, 0.5, 1;
    to_centre.col(2) << -0.5, -0.5, 1;
    const Eigen::Matrix3d m = to_centre * tile.matrix.cast<double>() * to_corner;
    cv::Mat matrix(3, 3, CV_64F);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) matrix.at<double>(r, c) = m(r, c);
    const Rectangle& r = tile.rectangle;
    cv::Mat part = out(cv::Rect(r.x, r.y, r.width, r.height));
    cv::warpPerspective(in, part, matrix, part.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  }
  return image;
}

// Where the centre of a true face box lands in a tile, as fractions of the tile's size, and
// whether the whole box is inside the tile.
struct Placement {
  double x, y;
  bool inside;
};

Placement Place(const PXCRectI32& box, const CropTile& tile) {
  const auto map = [&](double x, double y) {
    const Eigen::Vector3d q = tile.matrix.cast<double>() * Eigen::Vector3d(x, y, 1);
    return Eigen::Vector2d(q.x() / q.z(), q.y() / q.z());
  };
  const Eigen::Vector2d centre = map(box.x + box.w / 2.0, box.y + box.h / 2.0);
  bool inside = true;
  for (const auto& corner : {map(box.x, box.y), map(box.x + box.w, box.y),
                             map(box.x, box.y + box.h), map(box.x + box.w, box.y + box.h)}) {
    inside = inside && corner.x() >= 0 && corner.x() <= tile.rectangle.width && corner.y() >= 0 &&
             corner.y() <= tile.rectangle.height;
  }
  return {centre.x() / tile.rectangle.width, centre.y() / tile.rectangle.height, inside};
}

// The padding rules (0.75 of the box above, 0.7 below, 0.23 at the sides) put the box centre at
// the middle across and at about 0.51 down; a tenth of the tile either way is allowed for the
// tracked box's error against the truth. A near face whose padded box does not fit the picture
// is shown by a view held inside the picture: its centre then lies between where the picture has
// it and where the padding would put it.
void ExpectFramed(const PXCRectI32& box, const CropTile& tile, Size picture) {
  const Placement p = Place(box, tile);
  EXPECT_TRUE(p.inside);
  EXPECT_NEAR(p.x, 0.5, 0.1);
  const double seen = (box.y + box.h / 2.0) / picture.height;
  EXPECT_GE(p.y, std::min(seen, 0.51) - 0.05);
  EXPECT_LE(p.y, std::max(seen, 0.51) + 0.05);
}

// The cropper the pipeline should be running, fed the same frames through its own stabiliser.
struct ReferenceCamera {
  std::vector<CropTile> Update(const ImageData& frame, Size output) {
    return cropper->Update(frame.color, stabilizer.Stabilize(frame.faces, frame.color.time_stamp),
                           output);
  }
  FaceTrackingStabilizer stabilizer{7.5f};
  std::unique_ptr<FaceCropper> cropper = std::make_unique<FaceCropper>();
};

void ExpectRectangle(const Rectangle& r, int x, int width, int height) {
  EXPECT_EQ(r.x, x);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.width, width);
  EXPECT_EQ(r.height, height);
}

// A running pipeline at 1280 x 720 with the automatic camera on (colour correction off, so that
// the picture is the plain conversion), a reference cropper beside it, and the frames.
class AutomaticCameraTest : public testing::Test {
 protected:
  void Begin(int count, int skip, const char* scenario) {
    frames = test::CaptureAll(count, skip, scenario);
    rig = std::make_unique<PipelineRig>(size, false);
    rig->pipeline->SetColorCorrection(false);
    rig->pipeline->SetAutomaticCamera(true);
    rig->Start();
  }
  // The output is the tiles' view of the frame's picture.
  void ExpectCrop(const Image& output, const ImageData& frame, const std::vector<CropTile>& tiles,
                  Size at) {
    ASSERT_EQ(output.size, at);
    const Image expected = Cropped(test::CpuRgb(frame.color), tiles, at);
    // A tolerance of 3 for GPU against CPU sampling and conversion.
    EXPECT_LT(test::Compare(output, expected, 3).over, at.width * at.height / 1000);
  }

  const Size size{1280, 720};
  std::vector<TrueFrame> frames;
  std::unique_ptr<PipelineRig> rig;
  ReferenceCamera reference;
};

TEST_F(AutomaticCameraTest, CropsAroundTheTrueFaceAndShowsTheWholePictureWhenSwitchedOffLive) {
  Begin(10, 3, kOnePerson);
  ASSERT_FALSE(frames.empty());
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const TrueFrame& input = frames[i];
    ASSERT_EQ(input.persons.size(), 1u);
    ASSERT_EQ(input.frame->faces.size(), 1u);
    const Image whole = test::CpuRgb(input.frame->color);
    // Frames 4 and 5 go through with the automatic camera switched off.
    const bool on = i < 4 || i > 5;
    if (i == 4) rig->pipeline->SetAutomaticCamera(false);
    if (i == 6) rig->pipeline->SetAutomaticCamera(true);
    const Image output = rig->Process(input.frame);
    if (!on) {
      EXPECT_EQ(test::Compare(output, whole, 2).over, 0);
      continue;
    }
    const std::vector<CropTile> tiles = reference.Update(*input.frame, size);
    ASSERT_EQ(tiles.size(), 1u);
    ExpectRectangle(tiles[0].rectangle, 0, 1280, 720);
    ExpectFramed(input.persons[0].box, tiles[0], input.frame->color.size);
    ExpectCrop(output, *input.frame, tiles, size);
    // A crop, not the whole picture.
    EXPECT_GT(test::Compare(output, whole, 10).over, 1280 * 720 / 50);
  }
}

TEST_F(AutomaticCameraTest, TilesFollowThePeopleLeftToRightAndSplitTheWidth) {
  Begin(4, 70, kTwoPeople);
  ASSERT_FALSE(frames.empty());
  for (const TrueFrame& input : frames) {
    ASSERT_EQ(input.persons.size(), 2u);
    ASSERT_EQ(input.frame->faces.size(), 2u);
    const Image output = rig->Process(input.frame);
    const std::vector<CropTile> tiles = reference.Update(*input.frame, size);
    ASSERT_EQ(tiles.size(), 2u);
    ExpectRectangle(tiles[0].rectangle, 0, 640, 720);
    ExpectRectangle(tiles[1].rectangle, 640, 640, 720);
    auto persons = input.persons;
    std::sort(persons.begin(), persons.end(), [](const auto& a, const auto& b) {
      return a.box.x + a.box.w / 2 < b.box.x + b.box.w / 2;
    });
    ExpectFramed(persons[0].box, tiles[0], input.frame->color.size);
    ExpectFramed(persons[1].box, tiles[1], input.frame->color.size);
    EXPECT_FALSE(Place(persons[0].box, tiles[1]).inside);
    ExpectCrop(output, *input.frame, tiles, size);
  }

  // The simulation shows two people at most; a third face is added to the frame's face map.
  const TrueFrame& last = frames.back();
  std::map<int, FaceData> faces = last.frame->faces;
  FaceData third = faces.begin()->second;
  third.rect = Rectangle{120, 160, 110, 140};
  faces[99] = third;
  const auto three = test::WithFaces(*last.frame, faces);
  const Image output = rig->Process(three);
  const std::vector<CropTile> tiles = reference.Update(*three, size);
  ASSERT_EQ(tiles.size(), 3u);
  for (int k = 0; k < 3; ++k) ExpectRectangle(tiles[k].rectangle, 426 * k, 426, 720);
  ExpectCrop(output, *three, tiles, size);
  // The two columns no tile covers keep the render thread's white.
  long white = 0;
  for (int y = 0; y < 720; ++y)
    for (int x = 1278; x < 1280; ++x)
      for (int c = 0; c < 3; ++c) white += output.data.get()[(size_t(y) * 1280 + x) * 3 + c] == 255;
  EXPECT_EQ(white, 720 * 2 * 3);
}

// A new output size frames the next frame afresh for that size; the same size changes nothing.
TEST_F(AutomaticCameraTest, SizeChangeFramesTheNextFrameAfreshForTheNewSize) {
  Begin(6, 3, kOnePerson);
  ASSERT_FALSE(frames.empty());
  // A face of a fixed box that then moves by less than the dead zone: the running view holds it,
  // while a cropper made anew by a call with the same size would jump onto it.
  auto boxed = [&](size_t i, int shift) {
    std::map<int, FaceData> faces = frames[i].frame->faces;
    for (auto& [id, face] : faces) face.rect = Rectangle{500 + shift, 200, 140, 180};
    return test::WithFaces(*frames[i].frame, faces);
  };
  for (size_t i = 0; i < 3; ++i) {
    const auto frame = boxed(i, 0);
    rig->Process(frame);
    reference.Update(*frame, {1280, 720});
  }
  const auto moved = boxed(3, 25);
  rig->pipeline->RunWithSize({1280, 720}, false);
  Image output = rig->Process(moved);
  std::vector<CropTile> tiles = reference.Update(*moved, {1280, 720});
  ReferenceCamera renewed;
  ASSERT_FALSE(tiles.at(0).matrix.isApprox(renewed.Update(*moved, size).at(0).matrix, 1e-3f));
  ExpectCrop(output, *moved, tiles, size);

  const Size small{640, 480};
  rig->pipeline->RunWithSize(small, false);
  reference.cropper = std::make_unique<FaceCropper>();
  for (size_t i = 4; i < frames.size(); ++i) {
    output = rig->Process(frames[i].frame);
    tiles = reference.Update(*frames[i].frame, small);
    ASSERT_EQ(tiles.size(), 1u);
    ExpectRectangle(tiles[0].rectangle, 0, 640, 480);
    ExpectFramed(frames[i].persons.at(0).box, tiles[0], frames[i].frame->color.size);
    ExpectCrop(output, *frames[i].frame, tiles, small);
  }
}

}  // namespace
}  // namespace vantisol
