#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace vantisol {

// The property identifier this build reports to (set by the distributor).
QString AnalyticsTrackingID();

// Sends usage hits to a web-analytics collection endpoint (measurement protocol, version 1) as
// form-encoded POSTs. Hits are queued with the time they were made and sent one after another on
// a 30-second tick or after startSending; a hit that cannot be sent within four hours is dropped.
// A post that gets no answer within its time limit fails as a refused one does.
// The endpoint is the build's, unless the environment variable VANTISOL_ANALYTICS_URL names
// another. GUI thread only.
class GAnalytics : public QObject {
  Q_OBJECT
  Q_PROPERTY(LogLevel logLevel READ logLevel WRITE setLogLevel NOTIFY logLevelChanged)
  Q_PROPERTY(
      QString viewportSize READ viewportSize WRITE setViewportSize NOTIFY viewportSizeChanged)
  Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
  Q_PROPERTY(QString trackingID READ trackingID WRITE setTrackingID NOTIFY trackingIDChanged)
  Q_PROPERTY(int sendInterval READ sendInterval WRITE setSendInterval NOTIFY sendIntervalChanged)
  Q_PROPERTY(bool isSending READ isSending NOTIFY isSendingChanged)

 public:
  enum LogLevel { Debug = 0, Info = 1, Error = 2 };
  Q_ENUM(LogLevel)

  // The local time now; a hit's age is measured with it.
  using Clock = std::function<QDateTime()>;

  explicit GAnalytics(const QString& trackingID, QObject* parent = nullptr);
  GAnalytics(const QString& trackingID, Clock clock, QObject* parent = nullptr);
  ~GAnalytics() override;

  LogLevel logLevel() const;
  void setLogLevel(LogLevel logLevel);
  QString viewportSize() const;
  void setViewportSize(const QString& viewportSize);
  QString language() const;
  void setLanguage(const QString& language);
  QString trackingID() const;
  void setTrackingID(const QString& trackingID);
  int sendInterval() const;
  void setSendInterval(int milliseconds);
  bool isSending() const;
  // How long one post may take before it is abandoned and counts as failed (10 s); applies to
  // the posts that start after the change.
  int postTimeout() const;
  void setPostTimeout(int milliseconds);

 public slots:
  void sendAppView(const QString& screenName = QString(),
                   const QVariantMap& customValues = QVariantMap());
  void sendEvent(const QString& category = QString(), const QString& action = QString(),
                 const QString& label = QString(), const QVariant& value = QVariant(),
                 const QVariantMap& customValues = QVariantMap());
  void sendException(const QString& exceptionDescription, bool exceptionFatal = true,
                     const QVariantMap& customValues = QVariantMap());
  void startSession();
  void endSession();
  void startSending();

 signals:
  void logLevelChanged();
  void viewportSizeChanged();
  void languageChanged();
  void trackingIDChanged();
  void sendIntervalChanged();
  void isSendingChanged(bool isSending);

 private:
  class Private;
  std::unique_ptr<Private> d_;
};

}  // namespace vantisol
