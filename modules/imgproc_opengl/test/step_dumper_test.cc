// The step dumper names its files by frame, dumper and step, and writes nothing without a folder.
#include "imgproc_opengl/step_dumper.h"

#include <gtest/gtest.h>
#include <lodepng.h>
#include <stdlib.h>

#include <filesystem>

#include "gl_test.h"
#include "test_folder.h"

namespace vantisol {
namespace {

std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(StepDumperTest, WritesEveryStepOfEveryFrameWhenAFolderIsSet) {
  test::TemporaryFolder folder;
  setenv(opengl::StepDumper::kDirectoryVariable, folder.str().c_str(), 1);
  opengl::StepDumper dumper("ForegroundExtractor");
  unsetenv(opengl::StepDumper::kDirectoryVariable);
  const Image grey = test::RandomImage({5, 3}, Image::Format::kGray8, 4);
  Texture threshold(grey);
  Texture faces(test::RandomImage({4, 4}, Image::Format::kGray8, 5));
  for (int frame = 0; frame < 2; ++frame) {
    dumper.Save("Threshold", threshold);
    dumper.Save("Faces", faces);
  }
  const std::vector<std::string> expected = {
      "0000 ForegroundExtractor 0.Threshold.png", "0000 ForegroundExtractor 1.Faces.png",
      "0001 ForegroundExtractor 0.Threshold.png", "0001 ForegroundExtractor 1.Faces.png"};
  EXPECT_EQ(Files(folder.str()), expected);
  std::vector<unsigned char> pixels;
  unsigned width = 0, height = 0;
  ASSERT_EQ(
      lodepng::decode(pixels, width, height,
                      folder.str() + "/0001 ForegroundExtractor 0.Threshold.png", LCT_GREY, 8),
      0u);
  EXPECT_EQ(width, 5u);
  EXPECT_EQ(pixels, std::vector<unsigned char>(grey.data.get(), grey.data.get() + 15));
}

TEST(StepDumperTest, WithoutAFolderOnlyRecordsStepNames) {
  unsetenv(opengl::StepDumper::kDirectoryVariable);
  opengl::StepDumper dumper("TemporalSegmenter");
  Texture texture(test::RandomImage({4, 4}, Image::Format::kGray8, 6));
  dumper.Save("Final segmentation", texture);
  dumper.Save("Dilated segmentation", texture);
  dumper.Save("Final segmentation", texture);
  const std::vector<std::string> steps = {"Final segmentation", "Dilated segmentation"};
  EXPECT_EQ(dumper.steps(), steps);
  EXPECT_EQ(dumper.frame(), 0);
}

}  // namespace
}  // namespace vantisol
