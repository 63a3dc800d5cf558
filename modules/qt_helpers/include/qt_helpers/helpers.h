#pragma once

#include <QString>
#include <QtGlobal>

namespace vantisol {

// true: registers the logger "Qt" and routes Qt's messages into it; false: restores Qt's default.
void InstallQtMessageHandler(bool install);

// Writes one line on logger "Qt": the message followed by "(file:line, function)".
void QtMessageOutput(QtMsgType type, const QMessageLogContext& context, const QString& message);

// A modal "Critical Error" box showing `text`, the system's own rich text; the process ends with
// exit code 1 once it is closed.
[[noreturn]] void ShowCriticalError(const QString& text);

}  // namespace vantisol
