#pragma once
// Top-level windows on this X display, seen as a user's desktop sees them: found by title (another
// process's), typed into, closed through the window manager's protocol, measured with the window
// manager's frame, photographed from the screen.

#include <QImage>
#include <QRect>
#include <QString>
#include <vector>

struct _XDisplay;

namespace vantisol::test {

class X11Windows {
 public:
  X11Windows();
  ~X11Windows();
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  // Mapped top-level windows with exactly this title that belong to the process `pid` (tests run
  // side by side on one display).
  std::vector<unsigned long> Find(const QString& title, long long pid);
  // Asks the window to close, as a click on its frame's close button does.
  void Close(unsigned long window);
  // Types the key named `key` ("a", "F1"), with Alt held when `alt`, into the window, as the X
  // server hands on a keyboard's.
  void PressKey(unsigned long window, const char* key, bool alt);
  // Puts the window above the others (tests share the display).
  void Raise(unsigned long window);
  // The window's rectangle on the screen.
  QRect Geometry(unsigned long window);
  // The rectangle of what the window manager put around the window (the window's own when it has
  // not framed it).
  QRect Frame(unsigned long window);
  // What the screen shows in that rectangle.
  QImage Grab(const QRect& rect);

 private:
  long long WindowPid(unsigned long window);

  ::_XDisplay* display_;
};

}  // namespace vantisol::test
