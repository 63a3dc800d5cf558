#pragma once

#include <QMargins>
#include <QObject>
#include <QScrollArea>

namespace vantisol {

// Sizes `window`, filled by `area`, at every opening: as wide as the area's content beside the
// vertical scroll bar, so nothing is cut sideways, and as tall as the content, but with its frame
// no larger than the free part of its screen, on which it keeps the frame. An X11 window manager
// frames a window only after it is mapped, so until then its frame reads as none: the window is
// fitted for the frame the program's other windows have, and fitted again once the window manager's
// own frame is known.
class ScrollPanelFit : public QObject {
 public:
  // Owned by `window`.
  ScrollPanelFit(QWidget* window, QScrollArea* area);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Resizes for `frame`; a window that has been placed is also moved onto the screen.
  void Fit(const QMargins& frame, bool placed);

  QWidget* window_;
  QScrollArea* area_;
  QMargins fitted_for_;
  // Opened and not yet shown by the window manager.
  bool opening_ = false;
};

}  // namespace vantisol
