#pragma once

#include <QMargins>
#include <QRect>
#include <QScrollArea>
#include <QSize>

namespace vantisol {

// The size a window filled by `area` opens with: as wide as the area's content beside the vertical
// scroll bar, so nothing is cut sideways, and as tall as the content, but with its window `frame`
// no larger than `available` (the free part of the screen it opens on).
QSize ScrollPanelSize(const QScrollArea& area, const QRect& available, const QMargins& frame);

}  // namespace vantisol
