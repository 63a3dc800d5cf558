#include "x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdexcept>
#include <utility>

namespace vantisol::test {
namespace {

// Another process's window may go away between two requests; that is no failure here.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

}  // namespace

X11Windows::X11Windows() : display_(XOpenDisplay(nullptr)) {
  if (display_ == nullptr) throw std::runtime_error("no X display");
  XSetErrorHandler(IgnoreError);
}

X11Windows::~X11Windows() { XCloseDisplay(display_); }

std::vector<unsigned long> X11Windows::Find(const QString& title, long long pid) {
  std::vector<unsigned long> found;
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
    return found;
  }
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, children[i], &attributes) ||
        attributes.map_state != IsViewable) {
      continue;
    }
    char* name = nullptr;
    if (XFetchName(display_, children[i], &name) && name != nullptr) {
      if (QString::fromUtf8(name) == title && WindowPid(children[i]) == pid) {
        found.push_back(children[i]);
      }
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

long long X11Windows::WindowPid(unsigned long window) {
  Atom type = 0;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  long long pid = -1;
  if (XGetWindowProperty(display_, window, XInternAtom(display_, "_NET_WM_PID", False), 0, 1, False,
                         XA_CARDINAL, &type, &format, &items, &remaining, &data) == Success &&
      data != nullptr) {
    if (items == 1 && format == 32) pid = static_cast<long long>(*reinterpret_cast<long*>(data));
    XFree(data);
  }
  return pid;
}

void X11Windows::Close(unsigned long window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XFlush(display_);
}

void X11Windows::PressKey(unsigned long window, const char* key, bool alt) {
  XEvent event{};
  event.xkey.display = display_;
  event.xkey.window = window;
  event.xkey.root = DefaultRootWindow(display_);
  event.xkey.time = CurrentTime;
  event.xkey.same_screen = True;
  event.xkey.keycode = XKeysymToKeycode(display_, XStringToKeysym(key));
  event.xkey.state = alt ? Mod1Mask : 0;
  for (const auto& [type, mask] :
       {std::pair{KeyPress, KeyPressMask}, {KeyRelease, KeyReleaseMask}}) {
    event.xkey.type = type;
    XSendEvent(display_, window, True, mask, &event);
  }
  XFlush(display_);
}

void X11Windows::Raise(unsigned long window) {
  XRaiseWindow(display_, window);
  XSync(display_, False);
}

QRect X11Windows::Geometry(unsigned long window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display_, window, &attributes)) return QRect();
  int x = 0;
  int y = 0;
  Window child = 0;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
  return QRect(x, y, attributes.width, attributes.height);
}

QRect X11Windows::Frame(unsigned long window) {
  // A reparenting window manager's frame is the window's ancestor just below the root.
  Window top = window;
  for (;;) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, top, &root, &parent, &children, &count)) return QRect();
    if (children) XFree(children);
    if (parent == root || parent == 0) break;
    top = parent;
  }
  return Geometry(top);
}

QImage X11Windows::Grab(const QRect& rect) {
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), rect.x(), rect.y(), rect.width(),
                            rect.height(), AllPlanes, ZPixmap);
  if (image == nullptr) return QImage();
  QImage result(rect.width(), rect.height(), QImage::Format_RGB32);
  for (int y = 0; y < rect.height(); ++y) {
    for (int x = 0; x < rect.width(); ++x) {
      result.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y) | 0xff000000u));
    }
  }
  XDestroyImage(image);
  return result;
}

}  // namespace vantisol::test
