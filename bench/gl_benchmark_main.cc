// The main of the GPU benchmark programs: one offscreen context, current on the main thread, and a
// private folder for the channel objects a benchmark makes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>

#include "opengl_qt/opengl_context.h"
#include "utils/logging.h"

int main(int argc, char** argv) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  char folder[] = "/tmp/vantisol-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  setenv("XDG_RUNTIME_DIR", folder, 1);
  {
    QApplication application(argc, argv);
    vantisol::OpenGLContext context(false);
    context.CreateContext();
    context.SetContext();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
