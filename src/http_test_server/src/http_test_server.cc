#include "http_test_server/http_test_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

namespace vantisol::test {

QByteArray HttpRequest::Header(const QByteArray& name) const {
  for (const auto& header : headers) {
    if (header.first.toLower() == name.toLower()) return header.second;
  }
  return {};
}

int HttpRequest::HeaderCount(const QByteArray& name) const {
  int count = 0;
  for (const auto& header : headers) count += header.first.toLower() == name.toLower() ? 1 : 0;
  return count;
}

HttpTestServer::HttpTestServer() {
  connect(&server_, &QTcpServer::newConnection, this, &HttpTestServer::Accept);
  if (!server_.listen(QHostAddress::LocalHost, 0)) {
    qFatal("test server cannot listen: %s", qPrintable(server_.errorString()));
  }
}

HttpTestServer::~HttpTestServer() = default;

QString HttpTestServer::Url(const QString& path) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void HttpTestServer::Accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    socket->setParent(this);
    pending_[socket] = {++connections_, QByteArray()};
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      pending_.erase(socket);
      held_.erase(std::remove(held_.begin(), held_.end(), socket), held_.end());
      socket->deleteLater();
    });
  }
}

void HttpTestServer::Read(QTcpSocket* socket) {
  if (std::find(held_.begin(), held_.end(), socket) != held_.end()) return;
  auto found = pending_.find(socket);
  if (found == pending_.end()) return;
  QByteArray& buffer = found->second.second;
  buffer += socket->readAll();
  for (;;) {
    const int head_end = buffer.indexOf("\r\n\r\n");
    if (head_end < 0) return;
    const QList<QByteArray> lines = buffer.left(head_end).split('\n');
    HttpRequest request;
    request.connection = found->second.first;
    const QList<QByteArray> start = lines.front().trimmed().split(' ');
    if (start.size() == 3) {
      request.method = start[0];
      request.target = start[1];
    }
    int content_length = 0;
    for (int i = 1; i < lines.size(); ++i) {
      const int colon = lines[i].indexOf(':');
      if (colon < 0) continue;
      const QByteArray name = lines[i].left(colon).trimmed();
      const QByteArray value = lines[i].mid(colon + 1).trimmed();
      request.headers.append({name, value});
      if (name.toLower() == "content-length") content_length = value.toInt();
    }
    const int body_start = head_end + 4;
    if (buffer.size() < body_start + content_length) return;  // the rest is still on its way
    request.body = buffer.mid(body_start, content_length);
    buffer.remove(0, body_start + content_length);
    requests_.push_back(request);

    HttpReply reply = default_reply_;
    if (!script_.empty()) {
      reply = script_.front();
      script_.pop_front();
    }
    if (reply.hold) {
      held_.push_back(socket);
      emit RequestReceived();
      return;
    }
    Answer(socket, reply);
    emit RequestReceived();
    if (reply.close) return;
  }
}

void HttpTestServer::Answer(QTcpSocket* socket, const HttpReply& reply) {
  QByteArray text = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
  text += "Content-Type: application/json\r\n";
  text += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
  text += reply.close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
  text += "\r\n" + reply.body;
  socket->write(text);
  if (reply.close) socket->disconnectFromHost();  // after the written bytes have gone out
}

quint16 ClosedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents();
    QThread::msleep(1);
  }
  return true;
}

void Settle(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents();
    QThread::msleep(1);
  }
}

QList<QPair<QString, QString>> DecodeForm(const QByteArray& body) {
  const auto decode = [](QByteArray text) {
    text.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
  };
  QList<QPair<QString, QString>> fields;
  if (body.isEmpty()) return fields;
  for (const QByteArray& pair : body.split('&')) {
    const int equals = pair.indexOf('=');
    if (equals < 0) {
      fields.append({decode(pair), QString()});
    } else {
      fields.append({decode(pair.left(equals)), decode(pair.mid(equals + 1))});
    }
  }
  return fields;
}

}  // namespace vantisol::test
