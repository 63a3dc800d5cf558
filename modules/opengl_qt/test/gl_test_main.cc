#include <gtest/gtest.h>

#include <QApplication>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <algorithm>
#include <memory>

#include "gl_test.h"
#include "leak_check.h"
#include "opengl_qt/opengl_context.h"

namespace vantisol {
namespace test {
namespace {

std::mutex lines_mutex;
std::vector<std::string>* captured = nullptr;

class Recorder : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    std::lock_guard<std::mutex> lock(lines_mutex);
    if (captured == nullptr) return;
    captured->push_back(el::LevelHelper::convertToString(data->logMessage()->level()) +
                        std::string(" ") + data->logMessage()->message());
  }
};

std::unique_ptr<OpenGLContext> context;

}  // namespace

OpenGLContext& TestContext() { return *context; }

void ReleaseCurrentContext() {
  if (QOpenGLContext* current = QOpenGLContext::currentContext()) current->doneCurrent();
}

LogCapture::LogCapture() {
  std::lock_guard<std::mutex> lock(lines_mutex);
  captured = new std::vector<std::string>();
}

LogCapture::~LogCapture() {
  std::lock_guard<std::mutex> lock(lines_mutex);
  delete captured;
  captured = nullptr;
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(lines_mutex);
  return *captured;
}

int LogCapture::Count(const std::string& line) const {
  const auto all = lines();
  return static_cast<int>(std::count(all.begin(), all.end(), line));
}

int LogCapture::CountPrefix(const std::string& prefix) const {
  int count = 0;
  for (const auto& line : lines()) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

}  // namespace test
}  // namespace vantisol

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  vantisol::test::SkipLeakCheckInChildren();
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Helpers::installLogDispatchCallback<vantisol::test::Recorder>("test-recorder");
  QApplication application(argc, argv);
  vantisol::test::context = std::make_unique<vantisol::OpenGLContext>(false);
  vantisol::test::context->CreateContext();
  vantisol::test::context->SetContext();
  const int result = RUN_ALL_TESTS();
  vantisol::test::context.reset();
  return result;
}
