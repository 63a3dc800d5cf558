#include "utils/camera_image.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vantisol {
namespace {

template <typename T>
std::string Print(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

TEST(SizeTest, EmptyEqualityAndPrinting) {
  EXPECT_TRUE((Size{0, 480}).empty());
  EXPECT_TRUE((Size{640, 0}).empty());
  EXPECT_FALSE((Size{640, 480}).empty());
  EXPECT_EQ((Size{640, 480}), (Size{640, 480}));
  EXPECT_NE((Size{640, 480}), (Size{480, 640}));
  EXPECT_EQ(Print(Size{640, 480}), "640x480");
}

TEST(ImageFormatTest, ChannelsAndPixelSizesOfEveryFormat) {
  using F = Image::Format;
  struct Row {
    F format;
    int channels;
    int pixel_size;
    const char* name;
  };
  const Row rows[] = {
      {F::kBGRA, 4, 4, "Image::Format::kBGRA"},     {F::kRGBA, 4, 4, "Image::Format::kRGBA"},
      {F::kBGR, 3, 3, "Image::Format::kBGR"},       {F::kRGB, 3, 3, "Image::Format::kRGB"},
      {F::kYUY2, 2, 2, "Image::Format::kYUY2"},     {F::kGray8, 1, 1, "Image::Format::kGray8"},
      {F::kGray16, 1, 2, "Image::Format::kGray16"}, {F::kGray32, 1, 4, "Image::Format::kGray32"},
      {F::kRGB32F, 3, 12, "ERROR_UNKNOWN_FORMAT"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Image::channels(row.format), row.channels) << row.name;
    EXPECT_EQ(Image::pixel_size(row.format), row.pixel_size) << row.name;
    EXPECT_EQ(Print(row.format), row.name);
  }
  EXPECT_EQ(Print(F::kInvalid), "Image::Format::kInvalid");
  EXPECT_EQ(Print(F::kDepth32), "ERROR_UNKNOWN_FORMAT");
  EXPECT_EQ(static_cast<int>(F::kDepth32), 10);
}

TEST(ImageFormatTest, UnsupportedFormatsGiveZero) {
  EXPECT_EQ(Image::pixel_size(Image::Format::kDepth32), 4);
  EXPECT_EQ(Image::channels(Image::Format::kDepth32), 0);
  EXPECT_EQ(Image::channels(Image::Format::kInvalid), 0);
  EXPECT_EQ(Image::pixel_size(Image::Format::kInvalid), 0);
  EXPECT_EQ(Image::pixel_size(static_cast<Image::Format>(42)), 0);
}

TEST(ImageTest, CopiesShareThePixelBuffer) {
  Image image(Size{640, 480}, Image::Format::kRGB);
  ASSERT_NE(image.data, nullptr);
  EXPECT_EQ(image.data.use_count(), 1);
  // The whole buffer is addressable (ASan checks the last byte).
  image.data.get()[640 * 480 * 3 - 1] = 7;

  Image copy = image;
  image.data.get()[10] = 42;
  EXPECT_EQ(copy.data.get()[10], 42);
  EXPECT_EQ(copy.data.get()[640 * 480 * 3 - 1], 7);
  EXPECT_EQ(image.data.use_count(), 2);

  CameraImage camera_image(image, Calibration{}, 5);
  CameraImage camera_copy(camera_image);
  camera_image.data.get()[0] = 9;
  EXPECT_EQ(camera_copy.data.get()[0], 9);
  EXPECT_EQ(camera_copy.time_stamp, 5);
}

TEST(ImageTest, WrappedBufferIsNotOwned) {
  uint8_t pixels[4 * 2] = {};
  {
    Image image(Size{2, 2}, Image::Format::kYUY2, pixels);
    image.data.get()[3] = 5;
  }
  EXPECT_EQ(pixels[3], 5);  // still ours, not freed
}

TEST(ImageTest, ValidityIgnoresPixels) {
  Image image(Size{2, 2}, Image::Format::kInvalid, reinterpret_cast<uint8_t*>(&image));
  EXPECT_FALSE(image.valid());
  EXPECT_FALSE(CameraImage().valid());
  EXPECT_TRUE(CameraImage().empty());
}

TEST(ImageDataTest, ConstructorTakesColourSegmentationDepthMappedInThatOrder) {
  const auto make = [](int64_t stamp) {
    return CameraImage(Image(Size{1, 1}, Image::Format::kGray8), Calibration{}, stamp);
  };
  std::map<int, FaceData> faces;
  faces[3].average_depth = 600;
  const ImageData frame(make(1), make(2), make(3), make(4), faces, LatencyCalculator());
  EXPECT_EQ(frame.color.time_stamp, 1);
  EXPECT_EQ(frame.segmentation.time_stamp, 2);
  EXPECT_EQ(frame.depth.time_stamp, 3);
  EXPECT_EQ(frame.mapped_depth.time_stamp, 4);
  EXPECT_EQ(frame.faces.at(3).average_depth, 600);
}

TEST(LatencyCalculatorTest, RecordsNothing) {
  LatencyCalculator latency;
  latency.Checkpoint("2D");
  latency.Checkpoint("Output");
  const LatencyCalculator copy(latency);
  EXPECT_TRUE(latency.checkpoints().empty());
  EXPECT_TRUE(copy.checkpoints().empty());
  EXPECT_TRUE(copy.name.empty());
}

}  // namespace
}  // namespace vantisol
