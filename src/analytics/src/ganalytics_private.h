#pragma once

#include <QDateTime>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QTimer>

#include "analytics/ganalytics.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace vantisol {

// The queue and the sending state machine behind GAnalytics.
class GAnalytics::Private : public QObject {
  Q_OBJECT

 public:
  // A hit's form fields, in the order they are sent.
  using Field = QPair<QString, QString>;
  using Fields = QList<Field>;
  struct Hit {
    Fields fields;
    QDateTime time;  // local time when the hit was made
  };

  Private(GAnalytics* analytics, const QString& trackingID, Clock clock);

  // v, tid, cid, t and ul.
  Fields StandardFields(const QString& type) const;
  static void AppendCustomValues(const QVariantMap& values, Fields* fields);
  void Enqueue(const Fields& fields);
  void SetSending(bool sending);

  GAnalytics* analytics_;
  QNetworkAccessManager* network_ = nullptr;
  QQueue<Hit> queue_;
  QTimer timer_;
  // Abandons the running post when it fires.
  QTimer post_timer_;
  QPointer<QNetworkReply> running_;
  QNetworkRequest request_;
  LogLevel log_level_ = Error;
  QString tracking_id_;
  QString client_id_;
  QString app_name_;
  QString app_version_;
  QString language_;
  QString viewport_size_;
  bool is_sending_ = false;
  Clock clock_;

 signals:
  void postNextMessage();

 public slots:
  void postMessage();
  void postMessageFinished(QNetworkReply* reply);
};

}  // namespace vantisol
