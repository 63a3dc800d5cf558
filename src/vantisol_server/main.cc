// The desktop program: the preview window, the effects pipeline and the virtual camera's server.

#include <easylogging++.h>

#include <QApplication>
#include <cstdint>
#include <exception>

#include "main_window/main_window.h"
#include "qt_helpers/helpers.h"
#include "utils/shared_memory_image.h"
#include "utils/utils.h"

// Ask hybrid-graphics drivers for the discrete GPU; they look these names up in the program.
extern "C" {
__attribute__((visibility("default"), used)) std::uint32_t NvOptimusEnablement = 1;
__attribute__((visibility("default"), used)) int AmdPowerXpressRequestHighPerformance = 1;
}

int main(int argc, char** argv) {
  try {
    vantisol::SetApplicationInfo();
    QApplication application(argc, argv);
    // The window that is hidden in the tray keeps the program alive: panels closed meanwhile do
    // not end it; the program ends only through the window's stop.
    QApplication::setQuitOnLastWindowClosed(false);
    vantisol::InstallQtMessageHandler(true);
    vantisol::LogToFile(true, "");
    // Tells a tool refused by the frame channel that the program is what serves it.
    const vantisol::utils::InstanceGuard program(vantisol::kProgramClaim);
    vantisol::MainWindowStarter starter;
    // The window ends the loop with a failure status after a fatal error.
    return QApplication::exec();
  } catch (const std::exception& error) {
    LOG(ERROR) << "Exception caught: " << error.what();
    return 1;
  }
}
