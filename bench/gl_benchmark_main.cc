// The main of the GPU benchmark programs: one offscreen context, current on the main thread.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "opengl_qt/opengl_context.h"
#include "utils/logging.h"

int main(int argc, char** argv) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  QApplication application(argc, argv);
  vantisol::OpenGLContext context(false);
  context.CreateContext();
  context.SetContext();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
