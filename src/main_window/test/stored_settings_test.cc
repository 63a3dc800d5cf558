// The window's stored choices read from a settings file a user (or a crash) left behind.

#include "main_window/stored_settings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "test_folder.h"

namespace vantisol {
namespace {

class StoredSettingsTest : public ::testing::Test {
 protected:
  StoredSettings Read(const QByteArray& text) {
    const QString path = QString::fromStdString(folder_.str()) + "/Vantisol.conf";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    return ReadStoredSettings(QSettings(path, QSettings::IniFormat), "/default/background.jpg");
  }

  test::TemporaryFolder folder_;
};

TEST_F(StoredSettingsTest, MissingKeysAndAnUnreadableFileGiveTheDefaults) {
  for (const QByteArray& text :
       {QByteArray(), QByteArray("[General]\nunrelated=1\n"), QByteArray("\0\xff[=\n=\n", 7)}) {
    const StoredSettings read = Read(text);
    EXPECT_TRUE(read.show_welcome);
    EXPECT_TRUE(read.color_correction);
    EXPECT_TRUE(read.automatic_camera);
    EXPECT_FALSE(read.background_blur);
    EXPECT_EQ(read.blur_amount, 10);
    EXPECT_FALSE(read.background_replacement);
    EXPECT_FALSE(read.face_undistortion);
    EXPECT_EQ(read.face_undistortion_amount, 25);
    EXPECT_FALSE(read.gaze_correction);
    EXPECT_EQ(read.gaze_correction_amount, 30);
    EXPECT_EQ(read.background_path, "/default/background.jpg");
    EXPECT_TRUE(read.preview);
    EXPECT_EQ(read.face_template_scale_width, 100);
    EXPECT_EQ(read.face_template_scale_height, 100);
  }
}

TEST_F(StoredSettingsTest, ValuesOfWrongTypesReadAsQtConvertsThem) {
  const StoredSettings read = Read(
      "[General]\n"
      "show_welcome=maybe\n"
      "enable_color_correction=0\n"
      "enable_automatic_camera=FALSE\n"
      // An int 1 and a bool false as QSettings streams them (type, then value).
      "enable_background_blur=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n"
      "enable_preview=@Variant(\\0\\0\\0\\x1\\0)\n"
      "enable_gaze_correction=\n"
      "blur_amount=lots\n"
      "face_undistortion_amount=12.7\n"
      "gaze_correction_amount=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x10)\n"
      "face_template_scale_width=@Size(100 100)\n"
      "face_template_scale_height=2147483648\n"
      "background_path=1, 2\n");
  EXPECT_TRUE(read.show_welcome);
  EXPECT_FALSE(read.color_correction);
  EXPECT_FALSE(read.automatic_camera);
  EXPECT_TRUE(read.background_blur);
  EXPECT_FALSE(read.preview);
  EXPECT_FALSE(read.gaze_correction);
  EXPECT_EQ(read.blur_amount, 0);
  EXPECT_EQ(read.face_undistortion_amount, 0);
  EXPECT_EQ(read.gaze_correction_amount, 16);
  EXPECT_EQ(read.face_template_scale_width, 0);
  // Past int's range the number wraps (Qt reads it as a 64-bit number and narrows it).
  EXPECT_EQ(read.face_template_scale_height, -2147483647 - 1);
  // A list is no path: the window then falls back to its default picture.
  EXPECT_EQ(read.background_path, "");
}

TEST_F(StoredSettingsTest, StoredValuesOfTheRightTypesReadBack) {
  const StoredSettings read = Read(
      "[General]\nshow_welcome=false\nenable_background_replacement=true\n"
      "blur_amount=-3\nface_template_scale_width=104\nface_template_scale_height=95\n"
      "background_path=\"/home/u/My Pictures/caf\\xe9, night.png\"\n");
  EXPECT_FALSE(read.show_welcome);
  EXPECT_TRUE(read.background_replacement);
  EXPECT_EQ(read.blur_amount, -3);
  EXPECT_EQ(read.face_template_scale_width, 104);
  EXPECT_EQ(read.face_template_scale_height, 95);
  EXPECT_EQ(read.background_path, QString::fromUtf8("/home/u/My Pictures/caf\xc3\xa9, night.png"));
}

}  // namespace
}  // namespace vantisol
