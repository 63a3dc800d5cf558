// The pin's decisions on client format blocks, natively: the block layout is written out byte by
// byte here, apart from the code under test.

#include "media_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vantisol::vcam {
namespace {

const std::vector<Size> kSizes = {{640, 480}, {960, 720},  {640, 360},
                                  {960, 540}, {1024, 675}, {1280, 720}};

// A VIDEOINFOHEADER of `length` bytes (at least 60) with the given picture size.
std::vector<uint8_t> Block(int32_t width, int32_t height, size_t length = 88) {
  std::vector<uint8_t> block(length, 0xee);
  std::memcpy(&block[52], &width, 4);
  std::memcpy(&block[56], &height, 4);
  return block;
}

MediaTypeView Rgb24(const std::vector<uint8_t>& block) {
  return MediaTypeView{true, true, true, true, block.data(), block.size()};
}

TEST(MediaFormatTest, OnlyAWholeVideoInfoBlockHasASize) {
  const std::vector<uint8_t> whole = Block(640, 480);
  ASSERT_TRUE(VideoInfoSize(Rgb24(whole)));
  EXPECT_EQ(*VideoInfoSize(Rgb24(whole)), (Size{640, 480}));
  // A longer block (a client's own extension) still carries the header.
  EXPECT_TRUE(VideoInfoSize(Rgb24(Block(640, 480, 200))));

  const std::vector<uint8_t> short_block = Block(640, 480, 87);
  EXPECT_FALSE(VideoInfoSize(Rgb24(short_block)));
  MediaTypeView no_block = Rgb24(whole);
  no_block.format = nullptr;
  EXPECT_FALSE(VideoInfoSize(no_block));
  MediaTypeView other_format = Rgb24(whole);
  other_format.video_info = false;
  EXPECT_FALSE(VideoInfoSize(other_format));

  // None of them is accepted or set either.
  for (const MediaTypeView& type : {Rgb24(short_block), no_block, other_format}) {
    EXPECT_FALSE(AcceptsMediaType(type, kSizes));
    EXPECT_EQ(StreamFormatIndex(type, kSizes), -1);
  }
}

TEST(MediaFormatTest, CheckAndSetFormatAgreeOnListedRgb24Sizes) {
  const std::vector<uint8_t> listed = Block(1024, 675);
  EXPECT_TRUE(AcceptsMediaType(Rgb24(listed), kSizes));
  EXPECT_EQ(StreamFormatIndex(Rgb24(listed), kSizes), 4);

  for (const std::vector<uint8_t>& unlisted :
       {Block(1024, 676), Block(1023, 675), Block(1024, -675), Block(0, 0)}) {
    EXPECT_FALSE(AcceptsMediaType(Rgb24(unlisted), kSizes));
    EXPECT_EQ(StreamFormatIndex(Rgb24(unlisted), kSizes), -1);
  }

  MediaTypeView yuy2 = Rgb24(listed);
  yuy2.rgb24 = false;
  EXPECT_FALSE(AcceptsMediaType(yuy2, kSizes));
  EXPECT_EQ(StreamFormatIndex(yuy2, kSizes), -1);

  // The connection check also wants video with fixed-size samples; setting a format does not.
  MediaTypeView audio = Rgb24(listed);
  audio.video = false;
  MediaTypeView variable = Rgb24(listed);
  variable.fixed_size_samples = false;
  for (const MediaTypeView& type : {audio, variable}) {
    EXPECT_FALSE(AcceptsMediaType(type, kSizes));
    EXPECT_EQ(StreamFormatIndex(type, kSizes), 4);
  }
}

TEST(MediaFormatTest, ASetFormatNarrowsTheOfferToItsSize) {
  EXPECT_EQ(OfferedSizes(kSizes, -1), kSizes);
  EXPECT_EQ(OfferedSizes(kSizes, 5), (std::vector<Size>{{1280, 720}}));
  EXPECT_EQ(OfferedSizes(kSizes, 0), (std::vector<Size>{{640, 480}}));
  EXPECT_EQ(OfferedSizes(kSizes, 6), kSizes);
}

TEST(MediaFormatTest, MadeBlocksCarryThePaddedRgb24Header) {
  // 1024x675: rows of 3072 bytes; 1x2: 3 bytes padded to 4.
  const struct {
    Size size;
    uint32_t image;
  } cases[] = {{{1024, 675}, 2073600}, {{1, 2}, 8}, {{640, 480}, 921600}, {{5, 1}, 16}};
  for (const auto& c : cases) {
    const auto block = MakeVideoInfo(c.size);
    EXPECT_EQ(Rgb24ImageSize(c.size), c.image);
    int64_t frame_time = 0;
    uint32_t header_size = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = 1;
    uint32_t image = 0;
    std::memcpy(&frame_time, &block[40], 8);
    std::memcpy(&header_size, &block[48], 4);
    std::memcpy(&width, &block[52], 4);
    std::memcpy(&height, &block[56], 4);
    std::memcpy(&planes, &block[60], 2);
    std::memcpy(&bits, &block[62], 2);
    std::memcpy(&compression, &block[64], 4);
    std::memcpy(&image, &block[68], 4);
    EXPECT_EQ(frame_time, 333333);
    EXPECT_EQ(header_size, 40u);
    EXPECT_EQ(width, c.size.width);
    EXPECT_EQ(height, c.size.height);
    EXPECT_EQ(planes, 1);
    EXPECT_EQ(bits, 24);
    EXPECT_EQ(compression, 0u);
    EXPECT_EQ(image, c.image);
    // Source and target rectangles stay empty: the whole picture.
    for (size_t i = 0; i < 32; ++i) EXPECT_EQ(block[i], 0) << i;
  }
}

TEST(MediaFormatTest, ImageBytesComeFromTheSizeWhereTheClientLeftThemZeroOrShort) {
  auto with_image = [](int32_t width, int32_t height, uint32_t image) {
    std::vector<uint8_t> block = Block(width, height);
    std::memcpy(&block[68], &image, 4);
    return block;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> block;
    uint32_t bytes;
  } cases[] = {
      {"stated", with_image(1280, 720, 2764800), 2764800},
      {"stated larger, even when odd", with_image(640, 480, 921601), 921601},
      {"stated less than the picture", with_image(640, 480, 1000), 640 * 480 * 3},
      {"stated one byte short", with_image(1280, 720, 2764799), 1280 * 720 * 3},
      {"zero, a listed size", with_image(1280, 720, 0), 1280 * 720 * 3},
      {"zero, rows padded to four bytes", with_image(5, 2, 0), 32},
      {"zero, top-down", with_image(640, -480, 0), 640 * 480 * 3},
      {"zero, no width", with_image(0, 480, 0), 0},
      {"zero, absurd size", with_image(1 << 30, 1 << 30, 0), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ImageBytes(Rgb24(c.block)), c.bytes) << c.what;
  }
  EXPECT_EQ(ImageBytes(Rgb24(Block(640, 480, 87))), 0u);
}

TEST(MediaFormatTest, TypesWithoutAVideoInfoBlockSayWhatTheyCarry) {
  const std::vector<uint8_t> whole = Block(640, 480);
  MediaTypeView none = Rgb24(whole);
  none.format = nullptr;
  none.format_size = 0;
  EXPECT_EQ(DescribeFormatBlock(none, "untyped"), "empty pvi");
  const std::vector<uint8_t> short_block = Block(640, 480, 60);
  EXPECT_EQ(DescribeFormatBlock(Rgb24(short_block), "VIDEOINFOHEADER"),
            "VIDEOINFOHEADER block of only 60 bytes");
  const std::vector<uint8_t> bigger = Block(640, 480, 112);
  MediaTypeView video_info2 = Rgb24(bigger);
  video_info2.video_info = false;
  EXPECT_EQ(DescribeFormatBlock(video_info2, "VIDEOINFOHEADER2"),
            "VIDEOINFOHEADER2 block of 112 bytes, not VIDEOINFOHEADER");
}

}  // namespace
}  // namespace vantisol::vcam
