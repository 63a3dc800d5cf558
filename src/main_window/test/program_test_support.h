#pragma once
// Shared by the program's tests: analytics hits read from the loopback server, a log recorder,
// and a closer for the modal boxes a test opens.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "http_test_server/http_test_server.h"

class QImage;
class QMessageBox;

namespace vantisol::test {

// One measurement-protocol hit: its fields by name.
using Hit = QMap<QString, QString>;

// The POSTed hits the server received, in order.
std::vector<Hit> Hits(const HttpTestServer& server);

// "category/action/label" of an event, "appview:<screen>", "exception:<text>", "session:<sc>".
QString Describe(const Hit& hit);
QStringList Describe(const std::vector<Hit>& hits);

// Every log line written while it lives (any thread), as "LEVEL message".
class LogRecorder {
 public:
  // Installs the one logger callback all recorders share. easylogging++ does not guard its
  // callback table against threads that are logging, so this runs in the test program's main
  // before any thread starts, and the callback is never removed; recorders only join and leave
  // it.
  static void Install();

  // Throws std::logic_error when Install() has not run.
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  QStringList lines() const;
  bool Contains(const QString& text) const;
  int Count(const QString& text) const;

 private:
  class Callback;
  Callback* callback_;  // owned by the logger
  QStringList lines_;   // guarded by the callback
};

// What a message box shows its user: the text as read on screen, and the targets of the links
// that can be clicked (none when the text is not rendered as rich text or links are inert).
struct ShownText {
  QString plain;
  QStringList links;
};
ShownText Shown(const QMessageBox& box);

// Mean colour difference between the watermark's opaque pixels and `frame` where the mark
// belongs, optionally shifted right by `shift` of the width (a place without the mark).
double WatermarkDifference(const QImage& frame, double shift);

// Closes every modal box that opens while it lives and records "title|text" of each, and what
// each message box showed.
class BoxCloser {
 public:
  BoxCloser();
  const QStringList& boxes() const { return boxes_; }
  const QList<ShownText>& shown() const { return shown_; }

 private:
  QTimer timer_;
  QStringList boxes_;
  QList<ShownText> shown_;
};

}  // namespace vantisol::test
