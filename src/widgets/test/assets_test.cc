#include <gtest/gtest.h>

#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>

#include "widgets_test_support.h"

namespace vantisol {
namespace {

TEST(AssetsTest, FontLoadsUnderItsFamilyName) {
  const int id = QFontDatabase::addApplicationFont(":/levenim-mt.ttf");
  ASSERT_GE(id, 0);
  EXPECT_EQ(QFontDatabase::applicationFontFamilies(id), QStringList{"levenim MT"});
  QFont font("levenim MT");
  font.setPixelSize(14);
  // Resolved to the font itself, not to a fallback, and it has glyphs for the forms' texts.
  EXPECT_EQ(QFontInfo(font).family(), "levenim MT");
  const QFontMetrics metrics(font);
  for (const QChar c : QString("Get Help σ")) EXPECT_TRUE(metrics.inFont(c)) << c.unicode();
  EXPECT_GT(metrics.horizontalAdvance("Get Help"), 0);
}

// Every ":/..." path that a form names.
QSet<QString> ResourcesNamedByForms() {
  QSet<QString> paths;
  const QRegularExpression resource(":/[^<>\"]+\\.(png|ico|ttf)");
  for (const char* form : {"settings_widget.ui", "advanced_settings_widget.ui", "welcome_widget.ui",
                           "calib_widget.ui"}) {
    const QString text = test::ReadForm(form);
    EXPECT_FALSE(text.isEmpty()) << form;
    auto matches = resource.globalMatch(text);
    while (matches.hasNext()) paths.insert(matches.next().captured(0));
  }
  return paths;
}

TEST(AssetsTest, EveryResourceTheFormsAndTheWindowNameLoads) {
  QSet<QString> paths = ResourcesNamedByForms();
  // The main form's buttons, the two panel icons, the help-text icons and the arrows picture.
  EXPECT_EQ(paths.size(), 14) << QStringList(paths.begin(), paths.end()).join(" ").toStdString();
  // Named by the main window rather than a form.
  paths += {":/logo.ico", ":/icon.png"};
  for (const QString& path : paths) {
    const QImage image(path);
    EXPECT_FALSE(image.isNull()) << path.toStdString();
    EXPECT_GE(image.width(), 16) << path.toStdString();
  }
  // The resource file lists nothing beyond these and the font.
  QSet<QString> listed;
  for (const QString& name : QDir(":/").entryList(QDir::Files)) listed.insert(":/" + name);
  paths += ":/levenim-mt.ttf";
  for (const QString& path : listed) {
    EXPECT_TRUE(paths.contains(path)) << "unused resource " << path.toStdString();
  }
  for (const QString& path : paths) EXPECT_TRUE(listed.contains(path)) << path.toStdString();
}

TEST(AssetsTest, IconsHoldSeveralSizes) {
  for (const char* path : {":/logo.ico", ":/gaze_correction.ico", ":/face_undistortion.ico"}) {
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "ico") << path;
    EXPECT_EQ(reader.imageCount(), 4) << path;
    const QList<QSize> sizes = QIcon(path).availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16))) << path;
    EXPECT_TRUE(sizes.contains(QSize(48, 48))) << path;
  }
}

TEST(AssetsTest, ButtonPicturesAreDistinctFlatDiscsWithAWhiteGlyph) {
  const QStringList buttons = {":/vantisol_buttons_relighting.png",
                               ":/vantisol_buttons_auto_cam.png",
                               ":/vantisol_buttons_bg_blur2.png",
                               ":/vantisol_buttons_bg_blur.png",
                               ":/vantisol_buttons_face_undistort.png",
                               ":/vantisol_buttons_gaze_correction.png",
                               ":/vantisol_buttons_background.png",
                               ":/vantisol_buttons_arrow_right.png",
                               ":/vantisol_buttons_arrow_left.png",
                               ":/vantisol_buttons_face_mask.png",
                               ":/icon.png"};
  QSet<QRgb> colours;
  for (const QString& path : buttons) {
    const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(image.isNull()) << path.toStdString();
    const int size = image.width();
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << path.toStdString();
    // The disc's colour near its top edge, above every glyph.
    const QRgb disc = image.pixel(size / 2, size / 12);
    EXPECT_EQ(qAlpha(disc), 255) << path.toStdString();
    EXPECT_NE(disc | 0xff000000u, 0xffffffffu) << path.toStdString();
    colours.insert(disc);
    int white = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) white += image.pixel(x, y) == 0xffffffffu ? 1 : 0;
    }
    EXPECT_GT(white, size * size / 100) << path.toStdString();
  }
  EXPECT_EQ(colours.size(), buttons.size());
}

}  // namespace
}  // namespace vantisol
