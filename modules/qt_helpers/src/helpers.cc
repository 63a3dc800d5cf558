#include "qt_helpers/helpers.h"

#include <QMessageBox>
#include <cstdlib>
#include <string>

#include "utils/logging.h"

namespace vantisol {

void InstallQtMessageHandler(bool install) {
  if (!install) {
    qInstallMessageHandler(nullptr);
    return;
  }
  el::Loggers::getLogger("Qt");  // registers it under the library's registry lock
  qInstallMessageHandler(QtMessageOutput);
}

void QtMessageOutput(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  std::string text = message.toLocal8Bit().toStdString();
  text += "(";
  text += context.file != nullptr ? context.file : "?";
  text += ":";
  text += std::to_string(context.line);
  text += ", ";
  text += context.function != nullptr ? context.function : "?";
  text += ")";
  switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
      CLOG(INFO, "Qt") << text;
      break;
    case QtWarningMsg:
      CLOG(WARNING, "Qt") << text;
      break;
    case QtCriticalMsg:
      CLOG(ERROR, "Qt") << text;
      break;
    case QtFatalMsg:
      CLOG(FATAL, "Qt") << text;
      el::Loggers::flushAll();
      std::abort();
  }
}

void ShowCriticalError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, "Critical Error", text, QMessageBox::Ok);
  // The system's own messages carry links and breaks, also after a first plain line.
  box.setTextFormat(Qt::RichText);
  box.exec();
  std::exit(1);
}

}  // namespace vantisol
