// Views between Image, cv::Mat and QImage share memory and map every channel as stored.
#include "imgproc_opencv/image_conversions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <opencv2/imgproc.hpp>

#include "test_support.h"

namespace vantisol {
namespace {

using Format = Image::Format;

// The first pixel's bytes in memory and what each matrix channel must read for them.
struct FormatCase {
  Format format;
  int type;
  std::vector<uint8_t> bytes;
  std::vector<int> channels;
};

TEST(AsCv, EveryFormatViewsTheImageWithItsChannelsInStorageOrder) {
  const std::vector<FormatCase> cases = {
      {Format::kBGRA, CV_8UC4, {10, 20, 30, 40}, {10, 20, 30, 40}},
      {Format::kBGR, CV_8UC3, {11, 21, 31}, {11, 21, 31}},
      {Format::kYUY2, CV_8UC2, {12, 128}, {12, 128}},  // Y, then U (V on odd pixels)
      {Format::kGray8, CV_8UC1, {13}, {13}},
      {Format::kGray16, CV_16UC1, {0x34, 0x12}, {0x1234}},  // little-endian samples
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format);
    Image image(Size{7, 5}, c.format);
    const int pixel = Image::pixel_size(c.format);
    std::memset(image.data.get(), 0, size_t(7 * 5 * pixel));
    // The pixel at row 2, column 3.
    uint8_t* at = image.data.get() + (2 * 7 + 3) * pixel;
    std::memcpy(at, c.bytes.data(), c.bytes.size());

    const cv::Mat mat = AsCv(image);
    EXPECT_EQ(mat.type(), c.type);
    EXPECT_EQ(mat.rows, 5);
    EXPECT_EQ(mat.cols, 7);
    EXPECT_EQ(mat.step[0], size_t(7 * pixel));
    EXPECT_EQ(mat.data, image.data.get());
    for (size_t k = 0; k < c.channels.size(); ++k) {
      const int value = mat.depth() == CV_16U ? mat.ptr<uint16_t>(2)[3 * mat.channels() + k]
                                              : mat.ptr<uint8_t>(2)[3 * mat.channels() + k];
      EXPECT_EQ(value, c.channels[k]) << "channel " << k;
    }
    // Writing through the matrix changes the image: no copy was made.
    cv::Mat writable = mat;
    writable.setTo(cv::Scalar::all(7));
    EXPECT_EQ(image.data.get()[(4 * 7 + 6) * pixel], 7);
  }
}

TEST(AsCv, A640x480BgrImageGivesAViewWithStep1920) {
  Image image(Size{640, 480}, Format::kBGR);
  std::memset(image.data.get(), 0, 640 * 480 * 3);
  cv::Mat mat = AsCv(image);
  ASSERT_EQ(mat.rows, 480);
  ASSERT_EQ(mat.cols, 640);
  EXPECT_EQ(mat.channels(), 3);
  EXPECT_EQ(mat.step[0], 1920u);
  mat.at<cv::Vec3b>(479, 639) = cv::Vec3b(1, 2, 3);
  const uint8_t* last = image.data.get() + (479 * 640 + 639) * 3;
  EXPECT_EQ(last[0], 1);
  EXPECT_EQ(last[1], 2);
  EXPECT_EQ(last[2], 3);
}

TEST(AsCv, UnsupportedFormatsAreRejectedWithTheirNumber) {
  for (Format format : {Format::kRGBA, Format::kRGB, Format::kInvalid, Format::kGray32}) {
    test::LogCapture log;
    Image image;
    image.size = Size{4, 4};
    image.format = format;
    EXPECT_TRUE(AsCv(image).empty());
    EXPECT_EQ(log.Count("Format not supported: " + std::to_string(int(format))), 1);
  }
}

TEST(AsCv, AnImageWithoutPixelsGivesAFreshBuffer) {
  Image image;
  image.size = Size{6, 3};
  image.format = Format::kGray16;
  const cv::Mat mat = AsCv(image);
  ASSERT_NE(mat.data, nullptr);
  EXPECT_EQ(mat.size(), cv::Size(6, 3));
  EXPECT_EQ(mat.type(), CV_16UC1);
}

TEST(AsVantisol, AContinuousMatrixBecomesAViewOfItsFormat) {
  const std::vector<std::pair<int, Format>> cases = {{CV_8UC1, Format::kGray8},
                                                     {CV_8UC2, Format::kYUY2},
                                                     {CV_8UC3, Format::kBGR},
                                                     {CV_8UC4, Format::kBGRA}};
  for (const auto& [type, format] : cases) {
    SCOPED_TRACE(testing::Message() << format);
    cv::Mat mat(50, 100, type, cv::Scalar::all(0));
    const Image image = AsVantisol(mat);
    EXPECT_EQ(image.format, format);
    EXPECT_EQ(image.size, (Size{100, 50}));
    EXPECT_EQ(image.data.get(), mat.data);
    // Channel k of the pixel at (row 10, column 20) is byte k of that pixel in the image.
    const int channels = mat.channels();
    for (int k = 0; k < channels; ++k) mat.ptr<uint8_t>(10)[20 * channels + k] = uint8_t(50 + k);
    for (int k = 0; k < channels; ++k)
      EXPECT_EQ(image.data.get()[(10 * 100 + 20) * channels + k], 50 + k);
    image.data.get()[0] = 99;
    EXPECT_EQ(mat.ptr<uint8_t>(0)[0], 99);
  }
}

TEST(AsVantisol, AMatrixWithoutDataGivesAFreshImageAndAViewNeverFreesTheMatrix) {
  const Image fresh = AsVantisol(cv::Mat(0, 0, CV_8UC3));
  EXPECT_EQ(fresh.format, Format::kBGR);
  EXPECT_TRUE(fresh.empty());

  // The view's deleter releases nothing: the matrix keeps its buffer after the image is gone.
  cv::Mat mat(4, 4, CV_8UC1, cv::Scalar(5));
  { const Image view = AsVantisol(mat); }
  EXPECT_EQ(mat.at<uint8_t>(3, 3), 5);
}

TEST(AsVantisol, RejectsWhatItCannotView) {
  {
    test::LogCapture log;
    cv::Mat five(3, 3, CV_8UC(5), cv::Scalar::all(0));
    EXPECT_FALSE(AsVantisol(five).valid());
    EXPECT_EQ(log.Count("Not supported: 5"), 1);
  }
  {
    test::LogCapture log;
    cv::Mat wide(3, 3, CV_16UC1, cv::Scalar(0));
    EXPECT_FALSE(AsVantisol(wide).valid());
    EXPECT_EQ(log.Count("Check failed: [mat.depth() == 0] "), 1);
  }
  {
    test::LogCapture log;
    cv::Mat big(10, 10, CV_8UC3, cv::Scalar::all(0));
    const cv::Mat region = big(cv::Rect(2, 2, 4, 4));  // rows have gaps
    EXPECT_FALSE(AsVantisol(region).valid());
    EXPECT_EQ(log.Count("Check failed: [mat.isContinuous()] "), 1);
  }
}

TEST(AsVantisol, Argb32QImageIsViewedAsBgra) {
  QImage picture(8, 2, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  picture.setPixel(5, 1, qRgba(200, 100, 50, 180));
  const Image image = AsVantisol(picture);
  EXPECT_EQ(image.format, Format::kBGRA);
  EXPECT_EQ(image.size, (Size{8, 2}));
  EXPECT_EQ(image.data.get(), picture.constBits());
  const uint8_t* at = image.data.get() + (1 * 8 + 5) * 4;
  EXPECT_EQ(at[0], 50);   // blue
  EXPECT_EQ(at[1], 100);  // green
  EXPECT_EQ(at[2], 200);  // red
  EXPECT_EQ(at[3], 180);  // alpha
  // And the chain to OpenCV reads the same pixel.
  EXPECT_EQ(AsCv(image).at<cv::Vec4b>(1, 5), cv::Vec4b(50, 100, 200, 180));
}

TEST(AsVantisol, OtherQImageFormatsAreRejected) {
  test::LogCapture log;
  QImage picture(4, 4, QImage::Format_RGB888);
  EXPECT_FALSE(AsVantisol(picture).valid());
  EXPECT_EQ(log.Count("Check failed: [image.format() == QImage::Format_ARGB32] Wrong format: " +
                      std::to_string(int(QImage::Format_RGB888))),
            1);
}

class KeepWith3DTest : public testing::Test {
 protected:
  cv::Mat_<uint8_t> mask_ = cv::Mat_<uint8_t>(20, 30, uint8_t(0));
  cv::Mat_<uint8_t> reference_ = cv::Mat_<uint8_t>(20, 30, uint8_t(0));
};

TEST_F(KeepWith3DTest, KeepsOnlyTheBlobsThatTouchTheMask) {
  reference_(cv::Rect(2, 2, 5, 5)).setTo(1);    // blob A, touched
  reference_(cv::Rect(20, 10, 6, 6)).setTo(9);  // blob B, only a 128 pixel on it
  reference_(cv::Rect(7, 7, 3, 3)).setTo(255);  // joins A through a diagonal neighbour
  reference_(cv::Rect(12, 15, 2, 2)).setTo(1);  // blob C, touched
  mask_(4, 4) = 255;
  mask_(11, 21) = 128;
  mask_(16, 13) = 255;
  mask_(0, 29) = 255;  // on background: selects nothing
  const cv::Mat result = KeepWith3D(mask_, reference_);
  ASSERT_EQ(result.type(), CV_8UC1);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) {
      const bool in_a =
          cv::Rect(2, 2, 5, 5).contains({x, y}) || cv::Rect(7, 7, 3, 3).contains({x, y});
      const bool in_c = cv::Rect(12, 15, 2, 2).contains({x, y});
      ASSERT_EQ(result.at<uint8_t>(y, x), (in_a || in_c) ? 255 : 0) << x << "," << y;
    }
  }
}

TEST_F(KeepWith3DTest, AMaskThatTouchesNothingIsReturnedItselfWithAWarning) {
  reference_(cv::Rect(2, 2, 5, 5)).setTo(1);
  mask_(cv::Rect(2, 2, 5, 5)).setTo(254);
  test::LogCapture log;
  const cv::Mat result = KeepWith3D(mask_, reference_);
  EXPECT_EQ(result.data, mask_.data);
  EXPECT_EQ(log.Count("Very strange, there seems to be nothing in the image!"), 1);
}

}  // namespace
}  // namespace vantisol
