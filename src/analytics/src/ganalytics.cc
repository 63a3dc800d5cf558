#include "analytics/ganalytics.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>
#include <algorithm>

#include "ganalytics_private.h"

namespace vantisol {
namespace {

constexpr int kSendIntervalMs = 30000;
// A server that accepts and never answers would otherwise hold the run, and the program's exit
// that waits for it, for good.
constexpr int kPostTimeoutMs = 10000;
constexpr qint64 kMaxAgeMs = 4 * 60 * 60 * 1000;
const char kClientIdKey[] = "GAnalytics-cid";

using Fields = QList<QPair<QString, QString>>;

QString CollectionEndpoint() {
  return qEnvironmentVariableIsSet("VANTISOL_ANALYTICS_URL")
             ? qEnvironmentVariable("VANTISOL_ANALYTICS_URL")
             : QStringLiteral(VANTISOL_ANALYTICS_URL);
}

// Stays the same across starts, so that hits of one installation can be told apart.
QString ClientId() {
  QSettings settings;
  QString id = settings.value(kClientIdKey).toString();
  if (id.isEmpty()) {
    id = QUuid::createUuid().toString();
    settings.setValue(kClientIdKey, id);
  }
  return id;
}

QString UserAgent(const QString& name, const QString& version) {
  const QString system = "X11; Linux " + QSysInfo::currentCpuArchitecture();
  return QStringLiteral("%1/%2 (%3; %4) GAnalytics/1.0 (Qt/%5)")
      .arg(name, version, system, QLocale::system().name(), QStringLiteral("5.5.1"));
}

// Every byte outside the unreserved set is escaped, so that a form decoder gets back exactly the
// text ("+" included, which a decoder would otherwise read as a blank).
QByteArray FormBody(const Fields& fields) {
  QByteArray body;
  for (const auto& field : fields) {
    if (!body.isEmpty()) body += '&';
    body += QUrl::toPercentEncoding(field.first) + '=' + QUrl::toPercentEncoding(field.second);
  }
  return body;
}

template <typename T>
bool Assign(T& member, const T& value) {
  if (member == value) return false;
  member = value;
  return true;
}

void DebugLine(const QString& text) { qDebug().noquote() << "[Analytics]" << text; }

}  // namespace

QString AnalyticsTrackingID() { return QStringLiteral(VANTISOL_ANALYTICS_TRACKING_ID); }

GAnalytics::Private::Private(GAnalytics* analytics, const QString& trackingID, Clock clock)
    : analytics_(analytics),
      tracking_id_(trackingID),
      client_id_(ClientId()),
      app_name_(QCoreApplication::applicationName()),
      app_version_(QCoreApplication::applicationVersion()),
      language_(QLocale::system().name().toLower().replace('_', '-')),
      clock_(std::move(clock)) {
  request_.setUrl(QUrl(CollectionEndpoint()));
  request_.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
  request_.setHeader(QNetworkRequest::UserAgentHeader, UserAgent(app_name_, app_version_));
  connect(this, &Private::postNextMessage, this, &Private::postMessage);
  connect(&timer_, &QTimer::timeout, this, &Private::postMessage);
  timer_.start(kSendIntervalMs);
  post_timer_.setSingleShot(true);
  post_timer_.setInterval(kPostTimeoutMs);
  // The abort finishes the reply with an error: the hit stays queued as after any failure.
  connect(&post_timer_, &QTimer::timeout, this, [this] {
    if (running_) running_->abort();
  });
}

GAnalytics::Private::Fields GAnalytics::Private::StandardFields(const QString& type) const {
  return {{"v", "1"}, {"tid", tracking_id_}, {"cid", client_id_}, {"t", type}, {"ul", language_}};
}

void GAnalytics::Private::AppendCustomValues(const QVariantMap& values, Fields* fields) {
  for (auto value = values.begin(); value != values.end(); ++value) {
    fields->append({value.key(), value.value().toString()});
  }
}

void GAnalytics::Private::Enqueue(const Fields& fields) { queue_.enqueue({fields, clock_()}); }

void GAnalytics::Private::SetSending(bool sending) {
  if (is_sending_ == sending) return;
  is_sending_ = sending;
  emit analytics_->isSendingChanged(sending);
}

void GAnalytics::Private::postMessage() {
  if (queue_.isEmpty()) {
    timer_.start();
    SetSending(false);
    return;
  }
  timer_.stop();
  SetSending(true);

  const QDateTime now = clock_();
  const auto age = [&now](const Hit& hit) { return hit.time.msecsTo(now); };
  // Hits that could not go out within four hours are dropped unsent.
  while (!queue_.isEmpty() && age(queue_.head()) > kMaxAgeMs) queue_.dequeue();
  if (queue_.isEmpty()) {
    emit postNextMessage();
    return;
  }

  // The queue time goes on a copy: a hit sent again must carry one, newer, queue time.
  Fields fields = queue_.head().fields;
  // A clock set back must not yield a negative queue time.
  fields.append({"qt", QString::number(std::max<qint64>(0, age(queue_.head())))});
  const QByteArray body = FormBody(fields);

  QNetworkRequest request = request_;
  request.setRawHeader("Connection", queue_.size() > 1 ? "keep-alive" : "close");
  request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
  if (network_ == nullptr) network_ = new QNetworkAccessManager(this);
  QNetworkReply* reply = network_->post(request, body);
  connect(reply, &QNetworkReply::finished, this, [this, reply] { postMessageFinished(reply); });
  running_ = reply;
  post_timer_.start();
}

void GAnalytics::Private::postMessageFinished(QNetworkReply* reply) {
  post_timer_.stop();
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (status >= 200 && status < 300) {
    if (log_level_ == Debug) DebugLine("Message sent");
    if (!queue_.isEmpty()) queue_.dequeue();
    emit postNextMessage();
    return;
  }
  DebugLine("Error posting message: " + reply->errorString());
  timer_.start();
  SetSending(false);
}

GAnalytics::GAnalytics(const QString& trackingID, QObject* parent)
    : GAnalytics(trackingID, &QDateTime::currentDateTime, parent) {}

GAnalytics::GAnalytics(const QString& trackingID, Clock clock, QObject* parent)
    : QObject(parent), d_(std::make_unique<Private>(this, trackingID, std::move(clock))) {}

GAnalytics::~GAnalytics() = default;

GAnalytics::LogLevel GAnalytics::logLevel() const { return d_->log_level_; }

void GAnalytics::setLogLevel(LogLevel logLevel) {
  if (Assign(d_->log_level_, logLevel)) emit logLevelChanged();
}

QString GAnalytics::viewportSize() const { return d_->viewport_size_; }

void GAnalytics::setViewportSize(const QString& viewportSize) {
  if (Assign(d_->viewport_size_, viewportSize)) emit viewportSizeChanged();
}

QString GAnalytics::language() const { return d_->language_; }

void GAnalytics::setLanguage(const QString& language) {
  if (Assign(d_->language_, language)) emit languageChanged();
}

QString GAnalytics::trackingID() const { return d_->tracking_id_; }

void GAnalytics::setTrackingID(const QString& trackingID) {
  if (Assign(d_->tracking_id_, trackingID)) emit trackingIDChanged();
}

int GAnalytics::sendInterval() const { return d_->timer_.interval(); }

void GAnalytics::setSendInterval(int milliseconds) {
  if (d_->timer_.interval() == milliseconds) return;
  d_->timer_.setInterval(milliseconds);
  emit sendIntervalChanged();
}

bool GAnalytics::isSending() const { return d_->is_sending_; }

int GAnalytics::postTimeout() const { return d_->post_timer_.interval(); }

void GAnalytics::setPostTimeout(int milliseconds) { d_->post_timer_.setInterval(milliseconds); }

void GAnalytics::sendAppView(const QString& screenName, const QVariantMap& customValues) {
  if (d_->log_level_ <= Info) DebugLine(QStringLiteral("AppView: %1").arg(screenName));
  Private::Fields fields = d_->StandardFields("appview");
  if (!screenName.isEmpty()) fields.append({"cd", screenName});
  fields.append({{"an", d_->app_name_}, {"av", d_->app_version_}});
  Private::AppendCustomValues(customValues, &fields);
  d_->Enqueue(fields);
}

void GAnalytics::sendEvent(const QString& category, const QString& action, const QString& label,
                           const QVariant& value, const QVariantMap& customValues) {
  Private::Fields fields = d_->StandardFields("event");
  fields.append({{"an", d_->app_name_}, {"av", d_->app_version_}});
  if (!category.isEmpty()) fields.append({"ec", category});
  if (!action.isEmpty()) fields.append({"ea", action});
  if (!label.isEmpty()) fields.append({"el", label});
  if (value.isValid()) fields.append({"ev", value.toString()});
  Private::AppendCustomValues(customValues, &fields);
  d_->Enqueue(fields);
}

void GAnalytics::sendException(const QString& exceptionDescription, bool exceptionFatal,
                               const QVariantMap& customValues) {
  Private::Fields fields = d_->StandardFields("exception");
  fields.append({{"exd", exceptionDescription}, {"exf", exceptionFatal ? "1" : "0"}});
  Private::AppendCustomValues(customValues, &fields);
  d_->Enqueue(fields);
}

void GAnalytics::startSession() {
  Private::Fields fields = d_->StandardFields("event");
  fields.append(Private::Field("sc", "start"));
  d_->Enqueue(fields);
}

void GAnalytics::endSession() {
  Private::Fields fields = d_->StandardFields("event");
  fields.append(Private::Field("sc", "end"));
  d_->Enqueue(fields);
}

void GAnalytics::startSending() {
  if (!d_->is_sending_) emit d_->postNextMessage();
}

}  // namespace vantisol
