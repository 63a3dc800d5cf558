#include "widgets/scroll_panel_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollBar>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace vantisol {
namespace {

// The frame `window` will have: its own once the window manager has framed it, else that of
// another shown window of the program, which the same window manager framed alike.
QMargins ExpectedFrame(const QWindow& window) {
  const QMargins own = window.frameMargins();
  if (!own.isNull()) return own;
  for (const QWindow* other : QGuiApplication::topLevelWindows()) {
    if (other == &window || !other->isVisible() || other->type() != window.type()) continue;
    const QMargins theirs = other->frameMargins();
    if (!theirs.isNull()) return theirs;
  }
  return own;
}

// The content, the vertical scroll bar beside it, and what the window puts around the area.
QSize ScrollPanelSize(const QScrollArea& area, const QRect& available, const QMargins& frame) {
  const QLayout* layout = area.window()->layout();
  const QMargins around = (layout != nullptr ? layout->contentsMargins() : QMargins()) +
                          QMargins(1, 1, 1, 1) * area.frameWidth();
  const QSize content = area.widget()->sizeHint();
  const QSize wanted(content.width() + area.verticalScrollBar()->sizeHint().width() +
                         around.left() + around.right(),
                     content.height() + around.top() + around.bottom());
  const QSize room = available.size().shrunkBy(frame);
  return wanted.boundedTo(room);
}

}  // namespace

ScrollPanelFit::ScrollPanelFit(QWidget* window, QScrollArea* area)
    : QObject(window), window_(window), area_(area) {
  window_->installEventFilter(this);
}

bool ScrollPanelFit::eventFilter(QObject* watched, QEvent* event) {
  QWindow* handle = window_->windowHandle();
  if (watched == window_ && event->type() == QEvent::Show && !event->spontaneous() &&
      handle != nullptr) {
    // Only now do the groups' size hints follow their texts; the screen may have changed since
    // the last opening.
    handle->installEventFilter(this);
    Fit(ExpectedFrame(*handle), false);
    opening_ = true;
  } else if (watched == handle && event->type() == QEvent::Expose && handle->isExposed()) {
    // Shown on the screen: the window manager has framed and placed the window by now.
    const QMargins frame = handle->frameMargins();
    if (opening_ || frame != fitted_for_) Fit(frame, true);
    opening_ = false;
  }
  return false;
}

void ScrollPanelFit::Fit(const QMargins& frame, bool placed) {
  fitted_for_ = frame;
  const QRect available = window_->screen()->availableGeometry();
  const QSize size = ScrollPanelSize(*area_, available, frame);
  if (!placed) {
    window_->resize(size);
    return;
  }
  // The frame's top left corner, moved as little as keeps the whole frame on the free area.
  const QSize framed = size.grownBy(frame);
  const QPoint corner = window_->geometry().topLeft() - QPoint(frame.left(), frame.top());
  const QPoint kept(
      std::max(available.left(), std::min(corner.x(), available.right() + 1 - framed.width())),
      std::max(available.top(), std::min(corner.y(), available.bottom() + 1 - framed.height())));
  const QRect wanted(kept + QPoint(frame.left(), frame.top()), size);
  if (wanted != window_->geometry()) window_->setGeometry(wanted);
}

}  // namespace vantisol
