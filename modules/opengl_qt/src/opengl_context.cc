#include "opengl_qt/opengl_context.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLDebugLogger>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include "opengl/opengl.h"
#include "utils/logging.h"

namespace vantisol {

OpenGLContext::OpenGLContext(bool debug)
    : surface_(std::make_unique<QOffscreenSurface>()),
      format_(std::make_unique<QSurfaceFormat>(QSurfaceFormat::defaultFormat())),
      debug_(debug) {
  LOG(INFO) << "OpenGLContext";
  format_->setVersion(4, 3);
  format_->setProfile(QSurfaceFormat::CoreProfile);
  format_->setDepthBufferSize(24);
  if (debug_) format_->setOption(QSurfaceFormat::DebugContext);
  surface_->setFormat(*format_);
  surface_->create();
}

OpenGLContext::~OpenGLContext() {
  LOG(INFO) << "~RendererQt";
  logger_.reset();
  format_.reset();
  surface_.reset();
  context_.reset();
}

void OpenGLContext::CreateContext() {
  LOG(INFO) << "CreateContext";
  VANTISOL_CHECK(!context_) << "Can only be created once";
  context_ = std::make_unique<QOpenGLContext>();
  context_->setFormat(*format_);
  if (share_context_ != nullptr) context_->setShareContext(share_context_);
  context_->create();
  VANTISOL_CHECK(context_->isValid());
}

bool OpenGLContext::SetContext() {
  VANTISOL_CHECK(context_) << "Context needs to be created before setting";
  if (!context_) return false;
  VANTISOL_CHECK(context_->makeCurrent(surface_.get()));
  // Without a current context the entry points and the card's name cannot be read.
  if (QOpenGLContext::currentContext() != context_.get()) return false;
  if (gl_initialized_) return true;
  InitializeOpenGl(false);
  gl_initialized_ = true;
  QOpenGLFunctions* functions = context_->functions();
  const auto text = [functions](GLenum name) {
    const auto* value = reinterpret_cast<const char*>(functions->glGetString(name));
    return value != nullptr ? value : "";
  };
  LOG(INFO) << "Graphics card info: " << text(GL_VENDOR) << ": " << text(GL_RENDERER) << " ("
            << text(GL_VERSION) << ")";
  if (!debug_) return true;
  VANTISOL_CHECK(context_->hasExtension(QByteArrayLiteral("GL_KHR_debug")));
  logger_ = std::make_unique<QOpenGLDebugLogger>();
  VANTISOL_CHECK(logger_->initialize());
  QObject::connect(
      logger_.get(), &QOpenGLDebugLogger::messageLogged, [](const QOpenGLDebugMessage& message) {
        LogDebugMessage(message.message().toStdString(), static_cast<int>(message.severity()),
                        static_cast<int>(message.type()));
      });
  logger_->startLogging(QOpenGLDebugLogger::SynchronousLogging);
  return true;
}

void OpenGLContext::SetSharedContext() {
  LOG(INFO) << "SetSharedContext";
  VANTISOL_CHECK(!context_) << "Set shared context before creating the context";
  share_context_ = QOpenGLContext::currentContext();
}

namespace {

std::string FlagNames(int value, const char* zero_name,
                      std::initializer_list<std::pair<int, const char*>> names) {
  if (value == 0) return zero_name;
  std::string text;
  for (const auto& [flag, name] : names) {
    if (value & flag) text += name;
  }
  return text;
}

}  // namespace

std::string OpenGLContext::DebugMessageText(const std::string& message, int severity, int type) {
  const std::string severity_name = FlagNames(severity, "InvalidSeverity",
                                              {{1, "HighSeverity"},
                                               {2, "MediumSeverity"},
                                               {4, "LowSeverity"},
                                               {8, "NotificationSeverity"}});
  const std::string type_name = FlagNames(type, "InvalidType",
                                          {{0x1, "ErrorType"},
                                           {0x2, "DeprecatedBehaviorType"},
                                           {0x4, "UndefinedBehaviorType"},
                                           {0x8, "PortabilityType"},
                                           {0x10, "PerformanceType"},
                                           {0x20, "OtherType"},
                                           {0x40, "MarkerType"},
                                           {0x80, "GroupPushType"},
                                           {0x100, "GroupPopType"}});
  return message + "(" + severity_name + ", " + type_name + ")";
}

void OpenGLContext::LogDebugMessage(const std::string& message, int severity, int type) {
  const std::string text = "OpenGL: " + DebugMessageText(message, severity, type);
  switch (severity) {
    case 2:
      LOG(WARNING) << text;
      break;
    case 4:
      LOG(INFO) << text;
      break;
    case 8:
      break;
    default:
      LOG(ERROR) << text;
      break;
  }
}

}  // namespace vantisol
