#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <deque>
#include <functional>
#include <map>
#include <vector>

class QTcpSocket;

namespace vantisol::test {

// One request as it arrived on the wire.
struct HttpRequest {
  QByteArray method;
  QByteArray target;  // path and query as sent
  QList<QPair<QByteArray, QByteArray>> headers;
  QByteArray body;
  int connection = 0;  // counts the accepted connections from 1

  // The first header of that name (case-insensitive), empty when absent.
  QByteArray Header(const QByteArray& name) const;
  int HeaderCount(const QByteArray& name) const;
};

// What the server answers to one request.
struct HttpReply {
  int status = 200;
  QByteArray body;
  // Closes the connection after this reply ("Connection: close"); otherwise keeps it open.
  bool close = false;
  // Records the request and never answers: the connection stays open and silent until the
  // client gives up (a server that accepted and hangs).
  bool hold = false;
};

// A minimal HTTP/1.1 server on 127.0.0.1 for tests: records every request and answers from a
// script, then with the default reply. Lives on the thread that runs the event loop.
class HttpTestServer : public QObject {
  Q_OBJECT

 public:
  HttpTestServer();
  ~HttpTestServer() override;

  quint16 port() const { return server_.serverPort(); }
  // "http://127.0.0.1:<port>" followed by the path.
  QString Url(const QString& path) const;

  // Replies used in order, one per request, before the default reply.
  void Script(const HttpReply& reply) { script_.push_back(reply); }
  void SetDefaultReply(const HttpReply& reply) { default_reply_ = reply; }

  const std::vector<HttpRequest>& requests() const { return requests_; }
  int connections() const { return connections_; }

 signals:
  void RequestReceived();

 private:
  void Accept();
  void Read(QTcpSocket* socket);
  void Answer(QTcpSocket* socket, const HttpReply& reply);

  QTcpServer server_;
  std::deque<HttpReply> script_;
  HttpReply default_reply_;
  std::vector<HttpRequest> requests_;
  std::map<QTcpSocket*, std::pair<int, QByteArray>> pending_;  // connection number, unread bytes
  std::vector<QTcpSocket*> held_;                              // never read from again
  int connections_ = 0;
};

// A port on 127.0.0.1 on which nothing listens (a connection there is refused).
quint16 ClosedPort();

// Runs the event loop until the condition holds or the time is up; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 5000);

// Runs the event loop for that long (to see that nothing more happens).
void Settle(int milliseconds);

// Splits a form-encoded body into its name/value pairs in order, decoding "+" as a blank and
// "%XX" escapes as a form decoder does.
QList<QPair<QString, QString>> DecodeForm(const QByteArray& body);

}  // namespace vantisol::test
