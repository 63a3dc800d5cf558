#include "widgets/letterbox_layout.h"

#include <gtest/gtest.h>

#include <QSpacerItem>
#include <QWidget>
#include <QWidgetItem>
#include <memory>

namespace vantisol {
namespace {

struct Case {
  QRect rect;
  QSize ratio;  // empty: the initial 16:9
  QRect expected;
};

// Expected rectangles worked out by hand in 32-bit float arithmetic.
TEST(LetterboxLayoutTest, ItemGeometryForSizesAndRatios) {
  const Case cases[] = {
      // 1280 / (16/9 as float) rounds to 720.0f (a double quotient would truncate to 719).
      {QRect(0, 0, 1280, 720), QSize(), QRect(0, 0, 1280, 720)},
      {QRect(0, 0, 1000, 400), QSize(), QRect(144, 0, 711, 400)},
      {QRect(10, 20, 1000, 400), QSize(), QRect(154, 20, 711, 400)},
      {QRect(0, 0, 400, 600), QSize(4, 3), QRect(0, 150, 400, 300)},
      {QRect(0, 0, 640, 360), QSize(640, 480), QRect(80, 0, 480, 360)},
      // Truncation leaves a fitting item slightly off the ratio rather than barred.
      {QRect(0, 0, 1366, 768), QSize(), QRect(0, 0, 1366, 768)},
      {QRect(0, 0, 1921, 1080), QSize(), QRect(0, 0, 1921, 1080)},
      {QRect(0, 0, 1000, 1000), QSize(), QRect(0, 219, 1000, 562)},
      // Halves in float: 500 - 281.5 = 218.5 gives 218 (integer halves would give 219).
      {QRect(0, 0, 1001, 1000), QSize(), QRect(0, 218, 1001, 563)},
      {QRect(5, 7, 999, 300), QSize(640, 480), QRect(304, 7, 400, 300)},
      {QRect(0, 0, 300, 1000), QSize(1, 2), QRect(0, 200, 300, 600)},
  };
  for (const Case& test_case : cases) {
    LetterboxLayout layout;
    layout.addItem(new QSpacerItem(0, 0));
    if (!test_case.ratio.isEmpty()) layout.UpdateAspectRatio(test_case.ratio);
    layout.setGeometry(test_case.rect);
    EXPECT_EQ(layout.itemAt(0)->geometry(), test_case.expected)
        << "in " << test_case.rect.width() << "x" << test_case.rect.height();
    EXPECT_EQ(layout.geometry(), test_case.rect);
  }
}

TEST(LetterboxLayoutTest, OneSlotAndFixedHints) {
  LetterboxLayout layout;
  EXPECT_EQ(layout.count(), 0);
  EXPECT_EQ(layout.itemAt(0), nullptr);
  EXPECT_EQ(layout.takeAt(0), nullptr);
  layout.setGeometry(QRect(0, 0, 100, 100));  // nothing to place
  EXPECT_EQ(layout.sizeHint(), QSize(960, 540));
  EXPECT_EQ(layout.minimumSize(), QSize(320, 160));
  EXPECT_FLOAT_EQ(layout.aspect_ratio(), 16.0f / 9.0f);

  QWidget first, second;
  layout.addWidget(&first);
  layout.addWidget(&second);
  EXPECT_EQ(layout.count(), 1);
  ASSERT_NE(layout.itemAt(0), nullptr);
  EXPECT_EQ(layout.itemAt(0)->widget(), &second);
  EXPECT_EQ(layout.itemAt(1), nullptr);
  EXPECT_EQ(layout.itemAt(-1), nullptr);
  EXPECT_EQ(layout.takeAt(1), nullptr);
  EXPECT_EQ(layout.count(), 1);
  std::unique_ptr<QLayoutItem> taken(layout.takeAt(0));
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->widget(), &second);
  EXPECT_EQ(layout.count(), 0);
}

TEST(LetterboxLayoutTest, EmptySizeKeepsTheRatio) {
  LetterboxLayout layout;
  layout.UpdateAspectRatio(QSize(4, 3));
  layout.UpdateAspectRatio(QSize(0, 0));
  layout.UpdateAspectRatio(QSize(640, 0));
  EXPECT_FLOAT_EQ(layout.aspect_ratio(), 4.0f / 3.0f);
}

TEST(LetterboxLayoutTest, ContainerResizesPlaceThePreview) {
  QWidget container;
  auto* layout = new LetterboxLayout(&container);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* preview = new QWidget();
  layout->addWidget(preview);
  EXPECT_EQ(preview->parentWidget(), &container);

  container.resize(1000, 400);
  layout->activate();
  EXPECT_EQ(preview->geometry(), QRect(144, 0, 711, 400));

  layout->UpdateAspectRatio(QSize(640, 480));
  container.resize(400, 600);
  layout->activate();
  EXPECT_EQ(preview->geometry(), QRect(0, 150, 400, 300));
}

}  // namespace
}  // namespace vantisol
