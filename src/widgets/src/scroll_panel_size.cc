#include "widgets/scroll_panel_size.h"

#include <QLayout>
#include <QScrollBar>

namespace vantisol {

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

}  // namespace vantisol
