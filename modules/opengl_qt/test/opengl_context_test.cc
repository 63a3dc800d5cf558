#include "opengl_qt/opengl_context.h"

#include <gtest/gtest.h>

#include <QOpenGLContext>
#include <QSurfaceFormat>

#include "gl_test.h"

namespace vantisol {
namespace {

TEST(OpenGLContextTest, TestContextIsCoreAndCurrent) {
  QOpenGLContext* context = test::TestContext().context();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(QOpenGLContext::currentContext(), context);
  EXPECT_EQ(context->format().profile(), QSurfaceFormat::CoreProfile);
  EXPECT_GE(context->format().majorVersion() * 10 + context->format().minorVersion(), 43);
  EXPECT_FALSE(test::TestContext().has_debug_logger());
  EXPECT_FALSE(test::TestContext().format().testOption(QSurfaceFormat::DebugContext));
}

TEST(OpenGLContextTest, SharedContextAndOneTimeInitialisation) {
  test::LogCapture log;
  {
    // With the test context current it becomes the share context.
    OpenGLContext shared(false);
    shared.SetSharedContext();
    shared.CreateContext();
    EXPECT_EQ(shared.context()->shareContext(), test::TestContext().context());
    shared.SetContext();
    shared.SetContext();
    EXPECT_EQ(log.CountPrefix("INFO Graphics card info: "), 1);
    // A second creation and a late share context fail their checks.
    shared.CreateContext();
    shared.SetSharedContext();
    EXPECT_EQ(log.Count("FATAL Check failed: [!context_] Can only be created once"), 1);
    EXPECT_EQ(log.Count("FATAL Check failed: [!context_] Set shared context before creating the "
                        "context"),
              1);
  }
  test::TestContext().SetContext();
  EXPECT_EQ(log.Count("INFO ~RendererQt"), 1);
  EXPECT_EQ(log.CountPrefix("INFO Graphics card info: "), 1);
}

TEST(OpenGLContextTest, NoCurrentContextGivesUnsharedContext) {
  test::TestContext().context()->doneCurrent();
  {
    OpenGLContext unshared(false);
    unshared.SetSharedContext();
    unshared.CreateContext();
    EXPECT_EQ(unshared.context()->shareContext(), nullptr);
  }
  test::TestContext().SetContext();
}

TEST(OpenGLContextTest, SetContextBeforeCreationFailsItsCheck) {
  test::LogCapture log;
  OpenGLContext context(false);
  context.SetContext();
  EXPECT_EQ(log.Count("FATAL Check failed: [context_] Context needs to be created before setting"),
            1);
}

TEST(OpenGLContextTest, DebugMessagesByLevel) {
  test::LogCapture log;
  OpenGLContext::LogDebugMessage("note", 8, 0x20);
  OpenGLContext::LogDebugMessage("bad call", 1, 0x1);
  OpenGLContext::LogDebugMessage("slow", 2, 0x10);
  OpenGLContext::LogDebugMessage("info", 4, 0x20 | 0x40);
  OpenGLContext::LogDebugMessage("odd", 0, 0);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "ERROR OpenGL: bad call(HighSeverity, ErrorType)",
                             "WARNING OpenGL: slow(MediumSeverity, PerformanceType)",
                             "INFO OpenGL: info(LowSeverity, OtherTypeMarkerType)",
                             "ERROR OpenGL: odd(InvalidSeverity, InvalidType)",
                         }));
}

TEST(OpenGLContextTest, DebugModeStartsTheLogger) {
  {
    OpenGLContext debug(true);
    EXPECT_TRUE(debug.format().testOption(QSurfaceFormat::DebugContext));
    debug.CreateContext();
    debug.SetContext();
    EXPECT_TRUE(debug.has_debug_logger());
  }
  test::TestContext().SetContext();
}

}  // namespace
}  // namespace vantisol
