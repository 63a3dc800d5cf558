// Linked into every program of the address-sanitizer build (see vantisol_keep_gl_driver_loaded).
//
// Mesa's software rasteriser keeps a few allocations to the end of the process, reachable only
// from its own data. It is unloaded when the GL display closes, before the leak check at exit,
// which then finds those blocks unreferenced and reports them from an unknown module: whether a
// test fails depended on the machine. One reference held from the start keeps the driver mapped to
// the end, so its data is scanned like any other library's; the program's own leaks are still
// reported.
//
// The libraries that the driver and Qt's X11 plug-in bring in with thread-local data of the dynamic
// model are linked in as well (see vantisol_keep_gl_driver_loaded). Loaded by dlopen, their data
// would be a malloc block per thread, given on first use; the leak checker of this toolchain takes
// a block that starts 16 bytes into a page for an older C library's layout, reads a false range
// from it and crashes while scanning (seen about once in 25 runs of a GL test). Loaded with the
// program, the data sits in each thread's static block.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace {

bool Loaded(const char* library) {
  void* handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

// Mesa looks for its drivers in LIBGL_DRIVERS_PATH when set, else in the system's folder.
std::string DriverFolders() {
  const char* folders = std::getenv("LIBGL_DRIVERS_PATH");
  return folders != nullptr && *folders != '\0' ? folders : VANTISOL_GL_DRIVER_DIR;
}

__attribute__((constructor)) void KeepGLDriverLoaded() {
  // Only programs that can draw load the driver; the others start as fast as before.
  if (!Loaded("libGL.so.1") && !Loaded("libEGL.so.1") && !Loaded("libOpenGL.so.0") &&
      !Loaded("libQt5Gui.so.5")) {
    return;
  }
  const std::string folders = DriverFolders();
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string driver = folders.substr(start, end - start) + "/swrast_dri.so";
    // Never closed: the reference lasts to the end of the process.
    if (dlopen(driver.c_str(), RTLD_LAZY | RTLD_NODELETE) != nullptr) return;
    start = end + 1;
  }
}

}  // namespace
