#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

namespace vantisol {

// Asks the maker's web server once per start whether a newer version exists and, if so, tells
// the user in a message box. No failure reaches the user; failures end in a warning line.
class UpdateCheck : public QObject {
  Q_OBJECT

 public:
  // The window parents the message box. The server address is the build's, unless the
  // environment variable VANTISOL_UPDATE_BASE_URL names another.
  explicit UpdateCheck(QWidget* window);

  // Sends one request for the version file; the answer is handled in the event loop.
  void Start();

 private slots:
  void ReadReply(QNetworkReply* reply);

 private:
  QNetworkAccessManager* network_;
  QString base_address_;
  QWidget* window_;
};

}  // namespace vantisol
