#include "opengl_qt/texture_render_widget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QWheelEvent>
#include <array>
#include <vector>

#include "gl_test.h"
#include "opengl_qt/opengl_context.h"
#include "preview_test_support.h"

namespace vantisol {
namespace {

// The window background #f5f5f5, which the preview's bars show.
constexpr int kBarGrey = 0xf5;

// A 640x480 picture of 4x4 flat blocks of 160x120 pixels, each block its own colour.
QRgb BlockColour(int column, int row) {
  return qRgb(40 + 60 * column, 30 + 70 * row, 255 - 50 * column - 10 * row);
}

Image BlockPicture(int shift = 0) {
  Image image(Size{640, 480}, Image::Format::kRGBA);
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const QRgb colour = BlockColour(x / 160, y / 120);
      uint8_t* pixel = image.data.get() + (size_t(y) * 640 + x) * 4;
      pixel[0] = uint8_t(qRed(colour) + shift);
      pixel[1] = uint8_t(qGreen(colour));
      pixel[2] = uint8_t(qBlue(colour));
      pixel[3] = 255;
    }
  }
  return image;
}

bool IsGrey(QRgb pixel, int level) {
  return qRed(pixel) == level && qGreen(pixel) == level && qBlue(pixel) == level;
}

// Counts the pixels of `image` within `rect` that differ from `colour` by more than one step.
int CountOff(const QImage& image, QRect rect, QRgb colour) {
  int off = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (std::abs(qRed(pixel) - qRed(colour)) > 1 ||
          std::abs(qGreen(pixel) - qGreen(colour)) > 1 ||
          std::abs(qBlue(pixel) - qBlue(colour)) > 1) {
        ++off;
      }
    }
  }
  return off;
}

// Checks that a 640x360 grab shows the block picture upright, 480x360 at x = 80, with grey bars.
void ExpectLetterboxedBlocks(const QImage& grab, int shift = 0) {
  ASSERT_EQ(grab.size(), QSize(640, 360));
  EXPECT_EQ(CountOff(grab, QRect(0, 0, 80, 360), qRgb(kBarGrey, kBarGrey, kBarGrey)), 0);
  EXPECT_EQ(CountOff(grab, QRect(560, 0, 80, 360), qRgb(kBarGrey, kBarGrey, kBarGrey)), 0);
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      // Block (column, row) covers 120x90 screen pixels; its inner part is flat.
      const QRect inner(80 + column * 120 + 2, row * 90 + 2, 116, 86);
      const QRgb expected = BlockColour(column, row);
      EXPECT_EQ(
          CountOff(grab, inner, qRgb(qRed(expected) + shift, qGreen(expected), qBlue(expected))), 0)
          << "block " << column << "," << row;
    }
  }
  // The picture reaches the bars exactly: its outer columns are not grey.
  for (int y : {0, 180, 359}) {
    EXPECT_FALSE(IsGrey(grab.pixel(80, y), kBarGrey)) << y;
    EXPECT_FALSE(IsGrey(grab.pixel(559, y), kBarGrey)) << y;
  }
}

class TextureRenderWidgetTest : public testing::Test {
 protected:
  // The widget's context takes over the thread; later tests expect the test context.
  void TearDown() override { test::TestContext().SetContext(); }
};

TEST_F(TextureRenderWidgetTest, NothingBeforeTheFirstFrameThenTheFrameFittedUpright) {
  test::LogCapture log;
  TextureRenderWidget widget;
  EXPECT_EQ(widget.sizeHint(), QSize(640, 360));
  EXPECT_EQ(widget.minimumSize(), QSize(200, 200));
  int contexts = 0;
  QObject::connect(&widget, &TextureRenderWidget::ContextAvailable, [&] { ++contexts; });
  widget.resize(640, 360);

  widget.grabFramebuffer();
  ASSERT_NE(widget.context(), nullptr);
  EXPECT_EQ(contexts, 1);
  EXPECT_EQ(log.Count("INFO TextureRenderWidget"), 1);
  EXPECT_EQ(log.Count("INFO initializeGL()"), 1);
  const QSurfaceFormat format = widget.context()->format();
  EXPECT_EQ(format.profile(), QSurfaceFormat::CoreProfile);
  EXPECT_GE(format.majorVersion() * 10 + format.minorVersion(), 43);

  // Before the first frame a repaint leaves the framebuffer alone, not even clearing it.
  widget.makeCurrent();
  const GLfloat magenta[4] = {1.0f, 0.0f, 1.0f, 1.0f};
  widget.context()->extraFunctions()->glBindFramebuffer(GL_FRAMEBUFFER,
                                                        widget.defaultFramebufferObject());
  widget.context()->extraFunctions()->glClearBufferfv(GL_COLOR, 0, magenta);
  const QImage before = widget.grabFramebuffer();
  ASSERT_EQ(before.size(), QSize(640, 360));
  EXPECT_EQ(CountOff(before, before.rect(), qRgb(255, 0, 255)), 0);

  widget.makeCurrent();
  widget.RenderTexture(test::MakeLockedTexture(BlockPicture()));
  ExpectLetterboxedBlocks(widget.grabFramebuffer());
  EXPECT_EQ(contexts, 1);
}

TEST_F(TextureRenderWidgetTest, RepaintShowsTheLatestContentOfTheHeldTexture) {
  TextureRenderWidget widget;
  widget.resize(640, 360);
  widget.grabFramebuffer();
  widget.makeCurrent();
  std::shared_ptr<LockedTexture> texture = test::MakeLockedTexture(BlockPicture());
  widget.RenderTexture(texture);
  ExpectLetterboxedBlocks(widget.grabFramebuffer());

  // The render thread reuses one texture for every frame.
  widget.makeCurrent();
  test::FillLockedTexture(*texture, BlockPicture(7));
  widget.RenderTexture(texture);
  ExpectLetterboxedBlocks(widget.grabFramebuffer(), 7);
}

TEST_F(TextureRenderWidgetTest, TallWidgetLetterboxesTopAndBottom) {
  TextureRenderWidget widget;
  widget.resize(400, 600);
  widget.grabFramebuffer();
  widget.makeCurrent();
  widget.RenderTexture(test::MakeLockedTexture(BlockPicture()));
  // 400x300 at y = 150; each block 100x75.
  const QImage tall = widget.grabFramebuffer();
  ASSERT_EQ(tall.size(), QSize(400, 600));
  EXPECT_EQ(CountOff(tall, QRect(0, 0, 400, 150), qRgb(kBarGrey, kBarGrey, kBarGrey)), 0);
  EXPECT_EQ(CountOff(tall, QRect(0, 450, 400, 150), qRgb(kBarGrey, kBarGrey, kBarGrey)), 0);
  EXPECT_EQ(CountOff(tall, QRect(2, 152, 96, 71), BlockColour(0, 0)), 0);
  EXPECT_EQ(CountOff(tall, QRect(302, 377, 96, 71), BlockColour(3, 3)), 0);
}

TEST_F(TextureRenderWidgetTest, FrameFromASharingRenderThreadAndReleaseOnDestruction) {
  std::shared_ptr<LockedTexture> texture;
  {
    TextureRenderWidget widget;
    widget.resize(640, 360);
    widget.grabFramebuffer();
    widget.makeCurrent();
    texture = test::MakeLockedTextureOnRenderThread(BlockPicture());
    ASSERT_NE(texture, nullptr);
    widget.RenderTexture(texture);
    ExpectLetterboxedBlocks(widget.grabFramebuffer());
    EXPECT_EQ(texture.use_count(), 2);
  }
  EXPECT_EQ(texture.use_count(), 1);
  test::TestContext().SetContext();
  texture.reset();
}

TEST_F(TextureRenderWidgetTest, LosingTheContextReleasesTheFrameAndANewContextStartsAfresh) {
  QWidget first_window, second_window;
  auto* widget = new TextureRenderWidget(&first_window);
  widget->resize(640, 360);
  int contexts = 0;
  QObject::connect(widget, &TextureRenderWidget::ContextAvailable, [&] { ++contexts; });
  widget->grabFramebuffer();
  widget->makeCurrent();
  std::shared_ptr<LockedTexture> texture = test::MakeLockedTexture(BlockPicture());
  widget->RenderTexture(texture);
  ExpectLetterboxedBlocks(widget->grabFramebuffer());
  EXPECT_EQ(texture.use_count(), 2);

  // Moving to another window destroys the widget's context.
  widget->setParent(&second_window);
  EXPECT_EQ(texture.use_count(), 1);
  // The texture's objects died with their context: let go of the names without a context.
  if (QOpenGLContext::currentContext() != nullptr) QOpenGLContext::currentContext()->doneCurrent();
  texture.reset();

  // The new context shows nothing until the next frame.
  widget->grabFramebuffer();
  EXPECT_EQ(contexts, 2);
  widget->makeCurrent();
  widget->RenderTexture(test::MakeLockedTexture(BlockPicture()));
  ExpectLetterboxedBlocks(widget->grabFramebuffer());
}

// Sends one synthetic event to the widget.
template <typename Event>
void Send(QWidget& widget, Event event) {
  QApplication::sendEvent(&widget, &event);
}

QMouseEvent Mouse(QEvent::Type type, QPoint position, Qt::MouseButtons buttons,
                  Qt::MouseButton button = Qt::NoButton) {
  return QMouseEvent(type, QPointF(position), button, buttons, Qt::NoModifier);
}

TEST_F(TextureRenderWidgetTest, MouseDragsPerButtonAndWheel) {
  TextureRenderWidget widget;
  // Lets moves without buttons through to the widget, as over a real window with tracking on.
  widget.setMouseTracking(true);
  std::vector<std::array<int, 3>> moves;  // {button 0 left / 1 right, dx, dy}
  std::vector<int> wheels;
  QObject::connect(&widget, &TextureRenderWidget::MouseMovedLeft, [&](int dx, int dy) {
    moves.push_back({0, dx, dy});
  });
  QObject::connect(&widget, &TextureRenderWidget::MouseMovedRight, [&](int dx, int dy) {
    moves.push_back({1, dx, dy});
  });
  QObject::connect(&widget, &TextureRenderWidget::MouseWheel,
                   [&](int delta) { wheels.push_back(delta); });

  Send(widget, Mouse(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton));
  Send(widget, Mouse(QEvent::MouseMove, {15, 7}, Qt::LeftButton));
  Send(widget, Mouse(QEvent::MouseMove, {20, 20}, Qt::RightButton));
  // Both buttons: no signal, but the position still moves on.
  Send(widget, Mouse(QEvent::MouseMove, {30, 30}, Qt::LeftButton | Qt::RightButton));
  Send(widget, Mouse(QEvent::MouseMove, {31, 32}, Qt::LeftButton));
  Send(widget, Mouse(QEvent::MouseMove, {41, 2}, Qt::NoButton));
  Send(widget, Mouse(QEvent::MouseMove, {40, 0}, Qt::RightButton));
  Send(widget, Mouse(QEvent::MouseMove, {40, 5}, Qt::LeftButton | Qt::MiddleButton));
  // A press restarts the drag from where it happens.
  Send(widget, Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::RightButton, Qt::RightButton));
  Send(widget, Mouse(QEvent::MouseMove, {90, 120}, Qt::RightButton));
  EXPECT_EQ(moves, (std::vector<std::array<int, 3>>{
                       {0, 5, -3}, {1, 5, 13}, {0, 1, 2}, {1, -1, -2}, {1, -10, 20}}));

  Send(widget, QWheelEvent(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton,
                           Qt::NoModifier, Qt::NoScrollPhase, false));
  Send(widget, QWheelEvent(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(30, -240), Qt::NoButton,
                           Qt::NoModifier, Qt::NoScrollPhase, false));
  EXPECT_EQ(wheels, (std::vector<int>{120, -240}));
}

TEST_F(TextureRenderWidgetTest, AltPressOnlyWhileAltIsHeld) {
  TextureRenderWidget widget;
  int alt_presses = 0;
  QObject::connect(&widget, &TextureRenderWidget::MousePressAlt, [&] { ++alt_presses; });
  const auto press = [&] {
    Send(widget, Mouse(QEvent::MouseButtonPress, {3, 3}, Qt::LeftButton, Qt::LeftButton));
  };

  press();
  EXPECT_EQ(alt_presses, 0);
  Send(widget, QKeyEvent(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier));
  press();
  press();
  EXPECT_EQ(alt_presses, 2);
  // Other keys leave the Alt state alone.
  Send(widget, QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier));
  Send(widget, QKeyEvent(QEvent::KeyRelease, Qt::Key_Shift, Qt::AltModifier));
  press();
  EXPECT_EQ(alt_presses, 3);
  Send(widget, QKeyEvent(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier));
  press();
  EXPECT_EQ(alt_presses, 3);
  // A held modifier without the Alt key's own press is not enough.
  Send(widget, Mouse(QEvent::MouseButtonPress, {3, 3}, Qt::LeftButton, Qt::LeftButton));
  QMouseEvent with_modifier(QEvent::MouseButtonPress, QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                            Qt::AltModifier);
  QApplication::sendEvent(&widget, &with_modifier);
  EXPECT_EQ(alt_presses, 3);
}

TEST_F(TextureRenderWidgetTest, SignalsThenTheSlotInMetaObjectOrder) {
  const QMetaObject& meta = TextureRenderWidget::staticMetaObject;
  std::vector<std::string> methods;
  for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
    methods.push_back(meta.method(i).methodSignature().toStdString());
  }
  EXPECT_EQ(methods, (std::vector<std::string>{"ContextAvailable()", "MouseMovedLeft(int,int)",
                                               "MouseMovedRight(int,int)", "MouseWheel(int)",
                                               "MousePressAlt()",
                                               "RenderTexture(std::shared_ptr<LockedTexture>)"}));
}

}  // namespace
}  // namespace vantisol
