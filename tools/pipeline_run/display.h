#pragma once

namespace vantisol::tools {

// True when Qt is to start on X11 and the X display cannot be opened: Qt would end the process.
bool MissingXDisplay();

}  // namespace vantisol::tools
