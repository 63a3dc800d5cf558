// PNG files written by Save decode to the image's pixels in PNG's own order.
#include "imgproc/save.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <mutex>
#include <string>
#include <vector>

#include "test_folder.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

// Messages logged while it lives.
class Messages {
 public:
  Messages() { el::Helpers::installLogDispatchCallback<Recorder>("save-test"); }
  ~Messages() { el::Helpers::uninstallLogDispatchCallback<Recorder>("save-test"); }
  static std::vector<std::string>& lines() {
    static std::vector<std::string> lines;
    return lines;
  }

 private:
  class Recorder : public el::LogDispatchCallback {
   protected:
    void handle(const el::LogDispatchData* data) override {
      static std::mutex mutex;
      std::lock_guard<std::mutex> lock(mutex);
      lines().push_back(data->logMessage()->message());
    }
  };
};

Image Pattern(Size size, Image::Format format) {
  Image image(size, format);
  const size_t bytes = size_t(size.width) * size.height * Image::pixel_size(format);
  for (size_t i = 0; i < bytes; ++i) image.data.get()[i] = uint8_t(i * 37 + 11);
  return image;
}

struct Decoded {
  std::vector<unsigned char> pixels;
  unsigned width = 0, height = 0;
};

Decoded Decode(const std::string& file, LodePNGColorType type, unsigned bit_depth) {
  Decoded decoded;
  EXPECT_EQ(lodepng::decode(decoded.pixels, decoded.width, decoded.height, file, type, bit_depth),
            0u);
  return decoded;
}

class SaveTest : public testing::Test {
 protected:
  std::string File(const std::string& name) { return folder_.str() + "/" + name; }
  test::TemporaryFolder folder_;
};

TEST_F(SaveTest, ColourFormatsAreStoredRedFirst) {
  struct Case {
    Image::Format format;
    LodePNGColorType type;
    int channels;
    bool swapped;
  };
  const Case cases[] = {{Image::Format::kRGBA, LCT_RGBA, 4, false},
                        {Image::Format::kBGRA, LCT_RGBA, 4, true},
                        {Image::Format::kRGB, LCT_RGB, 3, false},
                        {Image::Format::kBGR, LCT_RGB, 3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    const Image image = Pattern({5, 3}, c.format);  // odd row lengths
    imgproc::Save(image, File("colour.png"));
    const Decoded png = Decode(File("colour.png"), c.type, 8);
    ASSERT_EQ(png.width, 5u);
    ASSERT_EQ(png.height, 3u);
    ASSERT_EQ(png.pixels.size(), size_t(15 * c.channels));
    for (int p = 0; p < 15; ++p) {
      const uint8_t* in = image.data.get() + p * c.channels;
      const unsigned char* out = png.pixels.data() + p * c.channels;
      EXPECT_EQ(out[0], c.swapped ? in[2] : in[0]);
      EXPECT_EQ(out[1], in[1]);
      EXPECT_EQ(out[2], c.swapped ? in[0] : in[2]);
      if (c.channels == 4) {
        EXPECT_EQ(out[3], in[3]);
      }
    }
  }
}

TEST_F(SaveTest, GreyKeepsItsBitDepth) {
  const Image grey8 = Pattern({7, 2}, Image::Format::kGray8);
  imgproc::Save(grey8, File("grey8.png"));
  const Decoded png8 = Decode(File("grey8.png"), LCT_GREY, 8);
  EXPECT_EQ(png8.pixels, std::vector<unsigned char>(grey8.data.get(), grey8.data.get() + 14));

  Image grey16({3, 2}, Image::Format::kGray16);
  const uint16_t values[6] = {0, 1, 0x1234, 0xff00, 65535, 1300};
  std::copy(values, values + 6, reinterpret_cast<uint16_t*>(grey16.data.get()));
  imgproc::Save(grey16, File("grey16.png"));
  // lodepng hands 16-bit samples back as stored in the file: most significant byte first.
  const Decoded png16 = Decode(File("grey16.png"), LCT_GREY, 16);
  ASSERT_EQ(png16.pixels.size(), 12u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(png16.pixels[2 * i], values[i] >> 8) << i;
    EXPECT_EQ(png16.pixels[2 * i + 1], values[i] & 0xff) << i;
  }
}

TEST_F(SaveTest, RefusedImagesAreLoggedAndNotWritten) {
  Messages messages;
  Messages::lines().clear();
  imgproc::Save(Image(), File("empty.png"));
  imgproc::Save(Pattern({2, 2}, Image::Format::kYUY2), File("yuy2.png"));
  imgproc::Save(Pattern({2, 2}, Image::Format::kGray32), File("grey32.png"));
  imgproc::Save(Pattern({2, 2}, Image::Format::kRGBA), folder_.str() + "/missing/folder.png");
  const std::vector<std::string> expected = {
      "Trying to save an empty image to " + File("empty.png"),
      "Image::Format::kYUY2 not supported yet.", "Image::Format::kGray32 not supported yet.",
      "Could not save image: failed to open file for writing"};
  EXPECT_EQ(Messages::lines(), expected);
  for (const char* name : {"empty.png", "yuy2.png", "grey32.png"}) {
    std::vector<unsigned char> bytes;
    EXPECT_NE(lodepng::load_file(bytes, File(name)), 0u) << name;
  }
}

}  // namespace
}  // namespace vantisol
