#include "display.h"

// Xlib's macros (None, Status, Bool) stay in this file.
#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

namespace vantisol::tools {

bool MissingXDisplay() {
  // Qt's default platform here is X11's; a name may carry options after a colon.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string name = platform == nullptr ? "" : std::string(platform);
  if (!name.empty() && name.substr(0, name.find(':')) != "xcb") return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return true;
  XCloseDisplay(display);
  return false;
}

}  // namespace vantisol::tools
