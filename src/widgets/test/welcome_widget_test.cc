#include "widgets/welcome_widget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>

#include "widgets_test_support.h"

namespace vantisol {
namespace {

QRect CardInParent(const WelcomeWidget& overlay, QWidget& parent) {
  return QRect(overlay.message_frame_->mapTo(&parent, QPoint(0, 0)),
               overlay.message_frame_->size());
}

TEST(WelcomeWidgetTest, CoversTheWindowWithTheCardCentred) {
  QWidget window;
  window.resize(720, 492);
  WelcomeWidget overlay(&window);
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(overlay.parentWidget(), &window);
  EXPECT_FALSE(overlay.show_welcome_checkbox_->isChecked());
  overlay.layout()->activate();
  EXPECT_EQ(overlay.geometry(), QRect(0, 0, 720, 492));
  EXPECT_EQ(CardInParent(overlay, window), QRect(160, 46, 400, 400));

  // {window size, card's top-left}: centres by integer halving of the edges.
  const std::pair<QSize, QPoint> cases[] = {
      {QSize(1000, 700), QPoint(300, 150)},
      {QSize(721, 493), QPoint(161, 47)},
      {QSize(401, 401), QPoint(1, 1)},
      {QSize(300, 200), QPoint(-50, -100)},
  };
  for (const auto& [size, top_left] : cases) {
    window.resize(size);
    overlay.FitToParent(&window);
    QApplication::processEvents();
    EXPECT_EQ(overlay.geometry(), QRect(QPoint(0, 0), size));
    EXPECT_EQ(overlay.bg_frame_->geometry(), QRect(QPoint(0, 0), size));
    EXPECT_EQ(CardInParent(overlay, window), QRect(top_left, QSize(400, 400)))
        << size.width() << "x" << size.height();
  }
  overlay.FitToParent(nullptr);
  EXPECT_EQ(overlay.size(), QSize(300, 200));
}

TEST(WelcomeWidgetTest, DarkensTheWindowAroundAWhiteCard) {
  QWidget window;
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, Qt::white);
  window.setPalette(palette);
  window.setAutoFillBackground(true);
  window.resize(720, 492);
  WelcomeWidget overlay(&window);
  QFontDatabase::addApplicationFont(":/levenim-mt.ttf");
  const QImage shot = window.grab().toImage();
  test::SaveScreenshot(shot, "welcome_overlay");
  // Black at alpha 100 over white: 255 * 155 / 255.
  const QRgb backdrop = shot.pixel(40, 40);
  EXPECT_NEAR(qRed(backdrop), 155, 2);
  EXPECT_EQ(qRed(backdrop), qGreen(backdrop));
  EXPECT_EQ(qRed(backdrop), qBlue(backdrop));
  EXPECT_EQ(shot.pixel(170, 60), qRgb(255, 255, 255));  // inside the card
}

}  // namespace
}  // namespace vantisol
