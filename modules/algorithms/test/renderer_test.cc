// The face renderer's every-frame part: crop to the output's aspect, background, clear colour.
#include "algorithms/renderer.h"

#include <gtest/gtest.h>

#include <Eigen/Core>

#include "gl_test.h"

namespace vantisol {
namespace {

std::shared_ptr<const ImageData> FrameOf(Size color, Size depth) {
  Calibration calibration;
  calibration.K = {600, 0, color.width / 2.0f + 7, 0, 600, color.height / 2.0f, 0, 0, 1};
  calibration.R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const CameraImage color_image(Image(color, Image::Format::kRGB), calibration, 0);
  const CameraImage depth_image(Image(depth, Image::Format::kGray16), calibration, 0);
  return std::make_shared<const ImageData>(color_image, CameraImage(), depth_image, CameraImage(),
                                           std::map<int, FaceData>(), LatencyCalculator());
}

uint8_t At(const Image& image, int x, int y, int c) {
  return image.data.get()[(size_t(y) * image.size.width + x) * 3 + c];
}

class RendererTest : public testing::Test {
 protected:
  static FaceTracker& Tracker() {
    static FaceTracker tracker;
    return tracker;
  }
};

TEST_F(RendererTest, NarrowerOutputTakesTheCentralBandOfFullHeight) {
  const Image picture = test::RandomImage({160, 90}, Image::Format::kRGB, 5);
  Texture color(picture), depth(Image::Format::kGray16);
  Renderer renderer;
  test::LogCapture log;
  // 4:3 out of 16:9: the band is (int)(90 * 4 / 3) = 120 wide, starting at column 20.
  renderer.Render(color, depth, FrameOf({160, 90}, {64, 48}), Tracker(), {120, 90});
  EXPECT_EQ(renderer.crop_size(), (Size{120, 90}));
  const Image output = renderer.output().Download();
  ASSERT_EQ(output.size, (Size{120, 90}));
  long wrong = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x)
      for (int c = 0; c < 3; ++c) wrong += At(output, x, y, c) != At(picture, x + 20, y, c);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(log.Count("INFO Renderer::Init()"), 1);
  EXPECT_EQ(log.Count("INFO Renderer::Resize()"), 1);

  // The drawing camera sees with the band's principal point: a point on the colour camera's
  // axis through (cx, cy) lands at cx - 20 in the band.
  const GLCamera& camera = *renderer.camera();
  const Eigen::Vector4f clip = camera.proj_persp * camera.view * Eigen::Vector4f(0, 0, 1, 1);
  const float u = (clip.x() / clip.w() + 1) / 2 * 120;
  EXPECT_NEAR(u, 80 + 7 - 20, 1e-3);
}

TEST_F(RendererTest, WiderOutputTakesTheCentralBandOfFullWidth) {
  const Image picture = test::RandomImage({64, 48}, Image::Format::kRGB, 6);
  Texture color(picture), depth(Image::Format::kGray16);
  Renderer renderer;
  // 16:9 out of 4:3: the band is (int)(64 * 9 / 16) = 36 high, starting at row 6; a tall picture
  // is cut, never stretched.
  renderer.Render(color, depth, FrameOf({64, 48}, {64, 48}), Tracker(), {64, 36});
  EXPECT_EQ(renderer.crop_size(), (Size{64, 36}));
  const Image output = renderer.output().Download();
  ASSERT_EQ(output.size, (Size{64, 36}));
  long wrong = 0;
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) wrong += At(output, x, y, c) != At(picture, x, y + 6, c);
  EXPECT_EQ(wrong, 0);

  // The principal point moves with the band: cy = 24 in the picture is row 18 of the band (the
  // unmoved 24 would land at 24 or 12, depending on the row direction).
  const GLCamera& camera = *renderer.camera();
  const Eigen::Vector4f clip = camera.proj_persp * camera.view * Eigen::Vector4f(0, 0, 1, 1);
  const float v = (clip.y() / clip.w() + 1) / 2 * 36;
  EXPECT_NEAR(v, 18, 1e-3);
}

TEST_F(RendererTest, WithoutBackgroundTheOutputIsWhiteAndSizeChangesResize) {
  const Image picture = test::RandomImage({32, 24}, Image::Format::kRGB, 7);
  Texture color(picture), depth(Image::Format::kGray16);
  Renderer renderer;
  renderer.draw_background_ = false;
  test::LogCapture log;
  const auto frame = FrameOf({32, 24}, {16, 12});
  renderer.Render(color, depth, frame, Tracker(), {32, 24});
  renderer.Render(color, depth, frame, Tracker(), {32, 24});
  EXPECT_EQ(log.Count("INFO Renderer::Resize()"), 1);
  renderer.Render(color, depth, frame, Tracker(), {16, 16});
  EXPECT_EQ(log.Count("INFO Renderer::Resize()"), 2);
  const Image output = renderer.output().Download();
  ASSERT_EQ(output.size, (Size{16, 16}));
  for (int i = 0; i < 16 * 16 * 3; ++i) ASSERT_EQ(output.data.get()[i], 255) << i;
  renderer.draw_background_ = true;
  renderer.Render(color, depth, frame, Tracker(), {16, 16});
  EXPECT_NE(renderer.output().Download().data.get()[0], 255);
}

// An odd leftover around the band is halved toward zero on either axis, for the pixels and for
// the drawing camera's principal point alike.
TEST_F(RendererTest, OddLeftoverPutsTheBandHalfAPixelTowardTheOrigin) {
  struct Case {
    Size color, output;
    int x_offset, y_offset;
  };
  for (const Case& c : {Case{{161, 90}, {120, 90}, 20, 0}, Case{{64, 49}, {64, 36}, 0, 6}}) {
    SCOPED_TRACE(testing::Message() << c.color.width << "x" << c.color.height);
    const Image picture = test::RandomImage(c.color, Image::Format::kRGB, 8);
    Texture color(picture), depth(Image::Format::kGray16);
    Renderer renderer;
    renderer.Render(color, depth, FrameOf(c.color, {64, 48}), Tracker(), c.output);
    ASSERT_EQ(renderer.crop_size(), c.output);
    const Image output = renderer.output().Download();
    long wrong = 0;
    for (int y = 0; y < c.output.height; ++y)
      for (int x = 0; x < c.output.width; ++x)
        for (int k = 0; k < 3; ++k)
          wrong += At(output, x, y, k) != At(picture, x + c.x_offset, y + c.y_offset, k);
    EXPECT_EQ(wrong, 0);
    const GLCamera& camera = *renderer.camera();
    const Eigen::Vector4f clip = camera.proj_persp * camera.view * Eigen::Vector4f(0, 0, 1, 1);
    EXPECT_NEAR((clip.x() / clip.w() + 1) / 2 * c.output.width,
                c.color.width / 2.0f + 7 - c.x_offset, 1e-3);
    EXPECT_NEAR((clip.y() / clip.w() + 1) / 2 * c.output.height, c.color.height / 2.0f - c.y_offset,
                1e-3);
  }
}

// The pipeline's ways of calling: into a given texture, and with the unchanged colour picture
// passed through without any pass; a view that draws (here the white clear colour) always draws.
TEST_F(RendererTest, DrawsIntoATargetAndPassesAnUnchangedPictureThrough) {
  const Image picture = test::RandomImage({32, 24}, Image::Format::kRGB, 8);
  Texture color(picture), depth(Image::Format::kGray16), target(Image::Format::kRGB);
  Renderer renderer;
  const auto frame = FrameOf({32, 24}, {16, 12});
  const auto wrong_pixels = [&](const Texture& texture, int x_offset) {
    const Image image = texture.Download(Image::Format::kRGB);
    long wrong = 0;
    for (int y = 0; y < image.size.height; ++y)
      for (int x = 0; x < image.size.width; ++x)
        for (int c = 0; c < 3; ++c) wrong += At(image, x, y, c) != At(picture, x + x_offset, y, c);
    return wrong;
  };
  // A square output: the central band, drawn into the target, the own output left alone.
  EXPECT_EQ(&renderer.Render(color, depth, frame, Tracker(), {24, 24}, &target, true), &target);
  ASSERT_EQ(target.size(), (Size{24, 24}));
  EXPECT_EQ(wrong_pixels(target, 4), 0);
  EXPECT_EQ(renderer.output().size(), (Size{24, 24}));
  EXPECT_NE(wrong_pixels(renderer.output(), 4), 0);
  // The whole picture at its own size: passed through, or copied into the target.
  EXPECT_EQ(&renderer.Render(color, depth, frame, Tracker(), {32, 24}, nullptr, true), &color);
  EXPECT_EQ(&renderer.Render(color, depth, frame, Tracker(), {32, 24}, &target), &target);
  ASSERT_EQ(target.size(), (Size{32, 24}));
  EXPECT_EQ(wrong_pixels(target, 0), 0);
  renderer.draw_background_ = false;
  EXPECT_EQ(&renderer.Render(color, depth, frame, Tracker(), {32, 24}, &target, true), &target);
  const Image white = target.Download(Image::Format::kRGB);
  for (int i = 0; i < 32 * 24 * 3; ++i) ASSERT_EQ(white.data.get()[i], 255) << i;
}

}  // namespace
}  // namespace vantisol
