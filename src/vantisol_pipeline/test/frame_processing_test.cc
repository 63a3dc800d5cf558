// The render thread's work on a frame, against CPU references and the simulation's truth.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "algorithms/renderer.h"
#include "gl_test.h"
#include "pipeline_test_support.h"
#include "test_folder.h"

namespace vantisol {
namespace {

using test::PipelineRig;
using test::TrueFrame;

// A frame early in the script: one person, tracked, with depth and segmentation. (Few frames:
// the simulation is slow under the thread sanitizer.)
const std::vector<TrueFrame>& Frames() {
  static const std::vector<TrueFrame> frames = test::CaptureFrames(1, true, 3);
  return frames;
}

const TrueFrame& First() {
  EXPECT_FALSE(Frames().empty());
  return Frames().front();
}

uint8_t At(const Image& image, int x, int y, int c) {
  return image.data.get()[(size_t(y) * image.size.width + x) * 3 + c];
}

TEST(FrameProcessingTest, PlainPictureIsTheCpuConversionAtTheOutputSize) {
  const TrueFrame& input = First();
  ASSERT_EQ(input.frame->color.size, (Size{1280, 720}));
  const Image reference = test::CpuRgb(input.frame->color);
  {
    PipelineRig rig({1280, 720}, false);
    rig.pipeline->SetColorCorrection(false);
    rig.Start();
    const Image output = rig.Process(input.frame);
    const auto difference = test::Compare(output, reference, 2);
    EXPECT_EQ(difference.over, 0) << "largest difference " << difference.max;
  }
  {
    // A 4:3 output takes the central 960 x 720 band and scales it by 2/3.
    PipelineRig rig({640, 480}, false);
    rig.pipeline->SetColorCorrection(false);
    rig.Start();
    const Image output = rig.Process(input.frame);
    ASSERT_EQ(output.size, (Size{640, 480}));
    Image expected(output.size, Image::Format::kRGB);
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        // Bilinear sampling at the output pixel's centre, in the band's pixels.
        const float sx = (x + 0.5f) * 1.5f - 0.5f + 160, sy = (y + 0.5f) * 1.5f - 0.5f;
        const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
        const float fx = sx - x0, fy = sy - y0;
        for (int c = 0; c < 3; ++c) {
          const float top = At(reference, x0, y0, c) * (1 - fx) + At(reference, x0 + 1, y0, c) * fx;
          const float bottom =
              At(reference, x0, y0 + 1, c) * (1 - fx) + At(reference, x0 + 1, y0 + 1, c) * fx;
          expected.data.get()[(size_t(y) * 640 + x) * 3 + c] =
              uint8_t(std::lround(top * (1 - fy) + bottom * fy));
        }
      }
    const auto difference = test::Compare(output, expected, 2);
    EXPECT_LT(difference.over, 640 * 480 / 1000) << "largest difference " << difference.max;
    // The band is the centre: the picture's outer columns are not in it.
    const auto shifted = [&] {
      Image moved(output.size, Image::Format::kRGB);
      for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
          for (int c = 0; c < 3; ++c)
            moved.data.get()[(size_t(y) * 640 + x) * 3 + c] =
                At(reference, std::min(1279, int(x * 1.5f) + 1), int(y * 1.5f), c);
      return moved;
    }();
    EXPECT_GT(test::Compare(output, shifted, 2).over, 640 * 480 / 20);
  }
}

TEST(FrameProcessingTest, SegmentationIsSkippedWithoutBlurOrFaceDepth) {
  const TrueFrame& input = First();
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(true);
  const Image plain = rig.Process(input.frame);

  rig.pipeline->SetBackgroundMode(1);
  rig.pipeline->SetBlurAmount(0);
  EXPECT_EQ(test::Compare(rig.Process(input.frame), plain, 0).over, 0);

  // Mode 2 replaces the background ...
  rig.pipeline->SetBackgroundMode(2);
  const auto background = test::Eroded(input.person_mask, input.mask_size, 10, true);
  EXPECT_GT(test::Compare(rig.Process(input.frame), plain, 2, &background).over, 10000);
  // ... but not when no face has a depth (a fresh pipeline: the stabiliser keeps a face's last
  // known depth).
  std::map<int, FaceData> faces = input.frame->faces;
  ASSERT_FALSE(faces.empty());
  for (auto& [id, face] : faces) face.average_depth = 0;
  PipelineRig fresh;
  fresh.pipeline->SetColorCorrection(false);
  fresh.pipeline->SetPersonify(true);
  fresh.pipeline->SetBackgroundMode(2);
  EXPECT_EQ(test::Compare(fresh.Process(test::WithFaces(*input.frame, faces)), plain, 0).over, 0);
}

TEST(FrameProcessingTest, ReplacementWithoutPictureIsGreenInTheTrueBackground) {
  const TrueFrame& input = First();
  ASSERT_EQ(input.mask_size, input.frame->color.size);
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(true);
  rig.pipeline->SetBackgroundMode(2);
  const Image output = rig.Process(input.frame);
  ASSERT_EQ(output.size, input.frame->color.size);
  const auto background = test::Eroded(input.person_mask, input.mask_size, 10, true);
  const auto person = test::Eroded(input.person_mask, input.mask_size, 10, false);
  long background_pixels = 0, green = 0;
  for (size_t i = 0; i < background.size(); ++i) {
    if (!background[i]) continue;
    ++background_pixels;
    const uint8_t* p = output.data.get() + i * 3;
    green += p[0] == 0 && p[1] == 255 && p[2] == 0;
  }
  ASSERT_GT(background_pixels, 100000);
  EXPECT_EQ(green, background_pixels);
  // Inside the person the camera's picture stays.
  const auto inside = test::Compare(output, test::CpuRgb(input.frame->color), 2, &person);
  EXPECT_EQ(inside.over, 0) << inside.max;
}

TEST(FrameProcessingTest, ReplacementPictureIsFillCroppedOrTakenAsItIs) {
  const TrueFrame& input = First();
  test::TemporaryFolder folder;
  // A wide picture whose columns say where they come from: blue = x / 3, green = y.
  cv::Mat wide(240, 768, CV_8UC3);
  for (int y = 0; y < wide.rows; ++y)
    for (int x = 0; x < wide.cols; ++x) wide.at<cv::Vec3b>(y, x) = cv::Vec3b(x / 3, y, 77);
  const std::string wide_file = folder.str() + "/wide.png";
  ASSERT_TRUE(cv::imwrite(wide_file, wide));
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(true);
  rig.pipeline->SetBackgroundMode(2);
  ASSERT_TRUE(rig.pipeline->SetBackground(wide_file));
  Image output = rig.Process(input.frame);
  ASSERT_EQ(output.size, (Size{1280, 720}));
  const auto background = test::Eroded(input.person_mask, input.mask_size, 10, true);
  // Fill: scale 3 (720 / 240) makes it 2304 wide; the central 1280 columns start at 512, which
  // is picture column 512 / 3.
  long checked = 0, wrong = 0;
  for (int y = 0; y < 720; y += 7)
    for (int x = 0; x < 1280; x += 5) {
      if (!background[size_t(y) * 1280 + x]) continue;
      const float column = (x + 0.5f + 512) / 3 - 0.5f, row = (y + 0.5f) / 3 - 0.5f;
      const int blue = At(output, x, y, 2), green = At(output, x, y, 1), red = At(output, x, y, 0);
      ++checked;
      wrong += std::abs(blue - column / 3) > 2 || std::abs(green - row) > 2 || red != 77;
    }
  ASSERT_GT(checked, 3000);
  EXPECT_EQ(wrong, 0);

  // A picture of the colour size is taken pixel for pixel; a failed load keeps it.
  cv::Mat same(720, 1280, CV_8UC3);
  cv::randu(same, 0, 256);
  const std::string same_file = folder.str() + "/same.png";
  ASSERT_TRUE(cv::imwrite(same_file, same));
  ASSERT_TRUE(rig.pipeline->SetBackground(same_file));
  rig.Process(input.frame);
  EXPECT_FALSE(rig.pipeline->SetBackground(folder.str() + "/missing.png"));
  output = rig.Process(input.frame);
  ASSERT_EQ(output.size, (Size{1280, 720}));
  checked = wrong = 0;
  for (size_t i = 0; i < background.size(); ++i) {
    if (!background[i]) continue;
    const cv::Vec3b bgr = same.at<cv::Vec3b>(int(i / 1280), int(i % 1280));
    ++checked;
    wrong += output.data.get()[i * 3] != bgr[2] || output.data.get()[i * 3 + 1] != bgr[1] ||
             output.data.get()[i * 3 + 2] != bgr[0];
  }
  ASSERT_GT(checked, 100000);
  EXPECT_EQ(wrong, 0);
}

TEST(FrameProcessingTest, GreyViewShowsTheMask) {
  const TrueFrame& input = First();
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(true);
  rig.pipeline->SetBackgroundMode(1);
  rig.pipeline->SetBwSegmentation(true);
  const Image output = rig.Process(input.frame);
  ASSERT_EQ(output.size, input.frame->color.size);
  const auto background = test::Eroded(input.person_mask, input.mask_size, 10, true);
  const auto person = test::Eroded(input.person_mask, input.mask_size, 10, false);
  long wrong = 0, person_pixels = 0;
  for (size_t i = 0; i < person.size(); ++i) {
    const uint8_t* p = output.data.get() + i * 3;
    if (person[i]) ++person_pixels, wrong += p[0] != 255 || p[1] != 255 || p[2] != 255;
    if (background[i]) wrong += p[0] != 0 || p[1] != 0 || p[2] != 0;
  }
  ASSERT_GT(person_pixels, 20000);
  EXPECT_EQ(wrong, 0);
}

// Without the camera's picture the mask is the project's own segmentation of depth and colour:
// right away from the true boundary with the automatic threshold, and empty with a fixed threshold
// nearer than the person.
TEST(FrameProcessingTest, OwnSegmentationFollowsTheThreshold) {
  const TrueFrame& input = First();
  const auto background = test::Eroded(input.person_mask, input.mask_size, 10, true);
  const auto person = test::Eroded(input.person_mask, input.mask_size, 10, false);
  struct Count {
    long person_pixels = 0, white_in_person = 0, white_in_background = 0;
  };
  auto run = [&](int threshold, bool reset) {
    PipelineRig rig;
    rig.pipeline->SetColorCorrection(false);
    rig.pipeline->SetPersonify(false);
    rig.pipeline->SetBackgroundMode(1);
    rig.pipeline->SetBwSegmentation(true);
    rig.pipeline->SetBgThresh(threshold);
    rig.Process(input.frame);
    if (reset) rig.pipeline->ResetHistory();
    const Image output = rig.Process(input.frame);
    EXPECT_EQ(output.size, input.frame->color.size);
    Count count;
    for (size_t i = 0; i < person.size(); ++i) {
      const bool white = output.data.get()[i * 3] == 255;
      if (person[i]) ++count.person_pixels, count.white_in_person += white;
      if (background[i]) count.white_in_background += white;
    }
    return count;
  };
  const Count automatic = run(-1, true);
  ASSERT_GT(automatic.person_pixels, 20000);
  EXPECT_GT(automatic.white_in_person, automatic.person_pixels * 99 / 100);
  EXPECT_LT(automatic.white_in_background, automatic.person_pixels / 100);
  // The person stands at about 620 mm.
  const Count too_near = run(400, false);
  EXPECT_LT(too_near.white_in_person, too_near.person_pixels / 100);
  const Count far = run(1000, false);
  EXPECT_GT(far.white_in_person, far.person_pixels * 97 / 100);
}

// Every pass of the own segmentation, blur and replacement ends with no program in use, so the
// next one takes over silently.
TEST(FrameProcessingTest, OwnSegmentationLeavesNoProgramInUseForTheNextFrame) {
  for (const int mode : {1, 2}) {
    PipelineRig rig;
    rig.pipeline->SetColorCorrection(false);
    rig.pipeline->SetPersonify(false);
    rig.pipeline->SetBackgroundMode(mode);
    rig.Process(First().frame);
    test::LogCapture log;
    for (int frame = 0; frame < 3; ++frame) rig.Process(First().frame);
    EXPECT_EQ(log.Count("WARNING Overwriting enabled shader..."), 0) << "mode " << mode;
  }
}

// The filter's formula on the CPU at one pixel.
std::array<float, 3> Bilateral(const Image& image, int x, int y) {
  const auto intensity = [&](int px, int py) {
    return (0.2126f * At(image, px, py, 0) + 0.7152f * At(image, px, py, 1) +
            0.0722f * At(image, px, py, 2)) /
           255.f;
  };
  std::array<float, 3> sum{};
  float weights = 0;
  for (int j = -5; j <= 5; ++j)
    for (int i = -5; i <= 5; ++i) {
      const int px = std::clamp(x + i, 0, image.size.width - 1);
      const int py = std::clamp(y + j, 0, image.size.height - 1);
      const float range = intensity(x, y) - intensity(px, py);
      const float w =
          std::exp(-(i * i + j * j) / (2 * 1.5f * 1.5f) - range * range / (2 * 0.025f * 0.025f));
      for (int c = 0; c < 3; ++c) sum[c] += w * At(image, px, py, c);
      weights += w;
    }
  for (float& value : sum) value /= weights;
  return sum;
}

TEST(FrameProcessingTest, BilateralFilterOnlyWhenSwitchedOn) {
  const TrueFrame& input = First();
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  const Image plain = rig.Process(input.frame);
  rig.pipeline->SetBilateralFilter(true);
  const Image filtered = rig.Process(input.frame);
  ASSERT_EQ(filtered.size, plain.size);
  ASSERT_EQ(plain.size, input.frame->color.size);
  EXPECT_GT(test::Compare(filtered, plain, 1).over, 1000);
  int worst = 0;
  for (int y = 20; y < 700; y += 37)
    for (int x = 20; x < 1260; x += 41) {
      const auto expected = Bilateral(plain, x, y);
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, int(std::lround(std::abs(expected[c] - At(filtered, x, y, c)))));
    }
  EXPECT_LE(worst, 2);
  rig.pipeline->SetBilateralFilter(false);
  EXPECT_EQ(test::Compare(rig.Process(input.frame), plain, 0).over, 0);
}

TEST(FrameProcessingTest, FaceBoxesAreDrawnIntoACopy) {
  const TrueFrame& input = First();
  const Image& color = input.frame->color;
  const size_t bytes = size_t(color.size.width) * color.size.height * 2;
  const std::vector<uint8_t> before(color.data.get(), color.data.get() + bytes);
  // A second face, seen once and then kept by the stabiliser while not seen, gets its box too.
  std::map<int, FaceData> faces = input.frame->faces;
  ASSERT_EQ(faces.size(), 1u);
  FaceData ghost = faces.begin()->second;
  ghost.rect = Rectangle{100, 100, 60, 80};
  faces[99] = ghost;
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetDrawFaces(true);
  rig.Process(test::WithFaces(*input.frame, faces));
  const Image output = rig.Process(input.frame);
  ASSERT_EQ(output.size, color.size);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), color.data.get()));
  // Y 255 and no chroma on the box lines: bright, far from the camera's picture there.
  const Image plain = test::CpuRgb(color);
  for (const auto& [id, face] : faces) {
    const Rectangle& r = face.rect;
    int changed = 0;
    for (int x = r.x + 2; x < r.x + r.width - 2; ++x)
      changed += At(output, x, r.y, 1) > At(plain, x, r.y, 1) + 20;
    EXPECT_GT(changed, (r.width - 4) * 9 / 10) << "face " << id;
  }
}

TEST(FrameProcessingTest, UnusablePicturesAreSkippedAndLoggedOnce) {
  const TrueFrame& input = First();
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(true);
  rig.pipeline->SetBackgroundMode(2);
  const Image plain = test::CpuRgb(input.frame->color);
  test::LogCapture log;
  // No depth: the frame is published, without segmentation.
  const auto no_depth = std::make_shared<const ImageData>(
      input.frame->color, input.frame->segmentation, CameraImage(), CameraImage(),
      input.frame->faces, input.frame->latency);
  EXPECT_EQ(test::Compare(rig.Process(no_depth), plain, 2).over, 0);
  EXPECT_EQ(test::Compare(rig.Process(no_depth), plain, 2).over, 0);
  EXPECT_EQ(log.Count("WARNING Frame without a 16-bit depth picture: depth stages are skipped"), 1);
  // No colour: nothing is published for it; the next good frame is.
  const auto no_color = std::make_shared<const ImageData>(CameraImage(), input.frame->segmentation,
                                                          input.frame->depth, CameraImage(),
                                                          input.frame->faces, input.frame->latency);
  const int outputs = rig.outputs();
  rig.camera->frame_signal_(no_color);
  rig.camera->frame_signal_(no_color);
  const Image good = rig.Process(input.frame);
  EXPECT_EQ(rig.outputs(), outputs + 1);
  EXPECT_GT(test::Compare(good, plain, 2).over, 10000);  // green background again
  EXPECT_EQ(log.Count("WARNING Frame without a YUY2 colour picture: it is not processed"), 1);
}

// The depth-map view draws the frame's own depth: a frame without usable depth (none, or one of
// the wrong format with its calibration) shows none, not the depth of the frame before it.
TEST(FrameProcessingTest, AFrameWithoutUsableDepthShowsNoEarlierDepth) {
  const TrueFrame& input = First();
  const CameraImage& depth = input.frame->depth;
  const CameraImage unusable[] = {
      CameraImage(),
      CameraImage(Image(depth.size, Image::Format::kGray8), depth.calibration, depth.time_stamp)};
  for (const CameraImage& other : unusable) {
    SCOPED_TRACE(other.empty() ? "no depth" : "8-bit depth");
    PipelineRig rig;
    rig.pipeline->SetColorCorrection(false);
    {
      auto renderer = rig.pipeline->renderer();
      ASSERT_TRUE(renderer);
      renderer->draw_depthmap_ = true;
    }
    const Image plain = test::CpuRgb(input.frame->color);
    EXPECT_GT(test::Compare(rig.Process(input.frame), plain, 2).over, 10000);
    const auto without =
        std::make_shared<const ImageData>(input.frame->color, input.frame->segmentation, other,
                                          CameraImage(), input.frame->faces, input.frame->latency);
    EXPECT_EQ(test::Compare(rig.Process(without), plain, 2).over, 0);
  }
}

}  // namespace
}  // namespace vantisol

namespace vantisol {
namespace {

TEST(FrameProcessingTest, ColourCorrectionStretchesTheFacesAndItsEndResetsTheCameraOnce) {
  const TrueFrame& input = First();
  PipelineRig rig;
  const Image corrected = rig.Process(input.frame);
  // The first frame with a face maps the face's darkest and brightest levels (1/255 of the
  // pixels cut at each end) of the box's middle third to 20 and 180.
  const FaceData& face = input.frame->faces.begin()->second;
  const Rectangle box{face.rect.x + face.rect.width / 3, face.rect.y, face.rect.width / 3,
                      face.rect.height};
  std::vector<int> histogram(256);
  const Image& color = input.frame->color;
  for (int y = box.y; y < box.y + box.height; ++y)
    for (int x = box.x; x < box.x + box.width; ++x)
      ++histogram[color.data.get()[(size_t(y) * color.size.width + x) * 2]];
  const int threshold = std::max(2, box.width * box.height / 255);
  int low = 0, high = 255;
  for (int sum = 0; low < 256 && (sum += histogram[low]) < threshold;) ++low;
  for (int sum = 0; high >= 0 && (sum += histogram[high]) < threshold;) --high;
  ASSERT_LT(low, high);
  const float scale = 160.0f / (high - low), offset = 20 - scale * low;
  Image scaled = test::CpuRgb(color);
  Image stretched(color.size, Image::Format::kYUY2);
  for (size_t i = 0; i < size_t(color.size.width) * color.size.height; ++i) {
    stretched.data.get()[i * 2] = uint8_t(
        std::clamp(std::lround(color.data.get()[i * 2] * scale + offset), long(0), long(255)));
    stretched.data.get()[i * 2 + 1] = color.data.get()[i * 2 + 1];
  }
  const auto difference = test::Compare(corrected, test::CpuRgb(stretched), 3);
  EXPECT_LT(difference.over, 1000) << difference.max;
  EXPECT_GT(test::Compare(corrected, scaled, 3).over, 100000);

  // Switching off resets the camera once and gives the plain picture; on again starts afresh.
  EXPECT_EQ(rig.camera->resets, 0);
  rig.pipeline->SetColorCorrection(false);
  EXPECT_EQ(test::Compare(rig.Process(input.frame), scaled, 2).over, 0);
  rig.Process(input.frame);
  EXPECT_EQ(rig.camera->resets, 1);
  rig.pipeline->SetColorCorrection(true);
  EXPECT_EQ(test::Compare(rig.Process(input.frame), corrected, 2).over, 0);
  rig.pipeline->SetColorCorrection(false);
  rig.Process(input.frame);
  EXPECT_EQ(rig.camera->resets, 2);
}

// The hardware corrector measures the middle third of each seen face's box (from x + w / 3, w / 3
// wide, rounded down) and leaves out a face that the stabiliser only remembers. The picture's luma
// is its column number, so a box's mean tells its columns; widths 31 and 32 round differently.
TEST(FrameProcessingTest, ColourCorrectionMeasuresTheMiddleThirdOfTheSeenFaces) {
  Image picture({1280, 720}, Image::Format::kYUY2);
  for (int y = 0; y < 720; ++y)
    for (int x = 0; x < 1280; ++x) {
      uint8_t* p = picture.data.get() + (size_t(y) * 1280 + x) * 2;
      p[0] = uint8_t(std::min(x, 255));
      p[1] = 128;
    }
  const auto frame = [&](int64_t time, const std::vector<Rectangle>& boxes) {
    std::map<int, FaceData> faces;
    for (size_t i = 0; i < boxes.size(); ++i) faces[int(i) + 1].rect = boxes[i];
    return std::make_shared<const ImageData>(CameraImage(picture, Calibration(), time),
                                             CameraImage(), CameraImage(), CameraImage(), faces,
                                             LatencyCalculator());
  };
  // Thirds: columns 50..59 (mean 54.5), 110..119 (114.5) and 210..219 (214.5). The third face
  // leaves after the first frame; half a second later the camera may be adjusted again.
  const Rectangle a{40, 100, 31, 50}, b{100, 100, 32, 50}, c{200, 100, 30, 50};
  PipelineRig rig;
  rig.Process(frame(1000000000, {a, b, c}));
  rig.Process(frame(1500000000, {a, b}));
  std::lock_guard<std::mutex> lock(rig.camera->mutex);
  const std::vector<float>& writes = rig.camera->brightness_writes;
  ASSERT_EQ(writes.size(), 2u);
  // From 50, the setting moves by 0.05 per level that the faces' mean lies below 90.
  EXPECT_NEAR(writes[0], 50 + (90 - (54.5 + 114.5 + 214.5) / 3) * 0.05, 1e-3);
  EXPECT_NEAR(writes[1] - writes[0], (90 - (54.5 + 114.5) / 2) * 0.05, 1e-3);
}

}  // namespace
}  // namespace vantisol
