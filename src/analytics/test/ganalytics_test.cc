#include "analytics/ganalytics.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <memory>
#include <vector>

#include "http_test_server/http_test_server.h"
#include "test_folder.h"

namespace vantisol {
namespace {

using test::HttpReply;
using test::HttpTestServer;
using Fields = QList<QPair<QString, QString>>;

constexpr char kTrackingId[] = "UA-1234567-8";
const QRegularExpression kBracedUuid(
    "^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$");

std::vector<QString> debug_lines;

void RecordDebugLine(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg) debug_lines.push_back(message);
}

class GAnalyticsTest : public testing::Test {
 protected:
  void SetUp() override {
    // Each test has a settings store of its own.
    setenv("XDG_CONFIG_HOME", config_.str().c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.str()));
    UseEndpoint(server_.Url("/collect"));
    debug_lines.clear();
  }
  void TearDown() override { unsetenv("VANTISOL_ANALYTICS_URL"); }

  static void UseEndpoint(const QString& url) {
    setenv("VANTISOL_ANALYTICS_URL", url.toUtf8().constData(), 1);
  }

  std::unique_ptr<GAnalytics> Make() {
    auto analytics = std::make_unique<GAnalytics>(kTrackingId, [this] { return now_; });
    QObject::connect(analytics.get(), &GAnalytics::isSendingChanged,
                     [this](bool sending) { sending_changes_.push_back(sending); });
    return analytics;
  }

  void Advance(qint64 milliseconds) { now_ = now_.addMSecs(milliseconds); }

  // Runs until `count` requests have arrived and sending has ended.
  bool WaitForRun(size_t count) {
    return test::WaitFor([&] {
      return server_.requests().size() >= count && !sending_changes_.empty() &&
             !sending_changes_.back();
    });
  }

  Fields Sent(size_t index) const { return test::DecodeForm(server_.requests().at(index).body); }

  static QString Value(const Fields& fields, const QString& name) {
    for (const auto& field : fields) {
      if (field.first == name) return field.second;
    }
    return QString();
  }

  static int Count(const Fields& fields, const QString& name) {
    int count = 0;
    for (const auto& field : fields) count += field.first == name ? 1 : 0;
    return count;
  }

  // The settings file as the store keeps it for the organisation and application "Vantisol".
  QString StoredClientId() const {
    QSettings settings;
    return settings.value("GAnalytics-cid").toString();
  }

  test::TemporaryFolder config_;
  HttpTestServer server_;
  QDateTime now_ = QDateTime(QDate(2026, 3, 14), QTime(9, 30), Qt::LocalTime);
  std::vector<bool> sending_changes_;
};

TEST_F(GAnalyticsTest, FieldsInOrderPerHitType) {
  auto analytics = Make();
  const QString cid = StoredClientId();
  ASSERT_TRUE(kBracedUuid.match(cid).hasMatch()) << cid.toStdString();

  QVariantMap custom;
  custom["zeta"] = true;
  custom["alpha"] = 3;
  analytics->sendAppView("Plugin", custom);
  Advance(100);
  analytics->sendEvent("Camera", "Start with Resolution", "1280x720", 5, {{"b", "x"}});
  Advance(100);
  analytics->sendEvent("Lifetime", "Start");
  analytics->sendEvent(QString(), QString(), QString(), 0);
  Advance(100);
  analytics->sendException("Camera Error");
  analytics->sendException("Minor", false, {{"k", 1.5}});
  Advance(100);
  analytics->startSession();
  analytics->endSession();
  analytics->sendAppView();
  Advance(1000);
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(9));

  const auto hit = [&cid](const QString& type, const Fields& fields, const QString& qt) {
    Fields all = {{"v", "1"}, {"tid", kTrackingId}, {"cid", cid}, {"t", type}, {"ul", "de-ch"}};
    all += fields;
    all.append({"qt", qt});
    return all;
  };
  const Fields app = {{"an", "Vantisol"}, {"av", "2.6.3"}};
  const std::vector<Fields> expected = {
      hit("appview", Fields{{"cd", "Plugin"}} + app + Fields{{"alpha", "3"}, {"zeta", "true"}},
          "1400"),
      hit("event",
          app + Fields{{"ec", "Camera"},
                       {"ea", "Start with Resolution"},
                       {"el", "1280x720"},
                       {"ev", "5"},
                       {"b", "x"}},
          "1300"),
      hit("event", app + Fields{{"ec", "Lifetime"}, {"ea", "Start"}}, "1200"),
      hit("event", app + Fields{{"ev", "0"}}, "1200"),
      hit("exception", {{"exd", "Camera Error"}, {"exf", "1"}}, "1100"),
      hit("exception", {{"exd", "Minor"}, {"exf", "0"}, {"k", "1.5"}}, "1100"),
      hit("event", {{"sc", "start"}}, "1000"),
      hit("event", {{"sc", "end"}}, "1000"),
      hit("appview", app, "1000"),
  };
  ASSERT_EQ(server_.requests().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Sent(i), expected[i]);
  }
}

TEST_F(GAnalyticsTest, RequestHeadersAndBodyEncoding) {
  auto analytics = Make();
  const QString label = QString::fromUtf8("Grüße + 1 & a=b %41 #x/y?z");
  analytics->sendEvent("Feature Toggle", "C++ & more", label);
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(1));

  const test::HttpRequest& request = server_.requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/collect");
  EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.Header("User-Agent"),
            "Vantisol/2.6.3 (X11; Linux x86_64; de_CH) GAnalytics/1.0 (Qt/5.5.1)");
  EXPECT_EQ(request.Header("Content-Length").toInt(), request.body.size());
  // Plain ASCII on the wire: no raw blank, no raw "+", nothing above 127.
  EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9%._~=&-]+$")
                  .match(QString::fromLatin1(request.body))
                  .hasMatch())
      << request.body.toStdString();
  const Fields fields = Sent(0);
  EXPECT_EQ(Value(fields, "ea"), "C++ & more");
  EXPECT_EQ(Value(fields, "el"), label);
  EXPECT_EQ(Count(fields, "qt"), 1);
}

TEST_F(GAnalyticsTest, NothingGoesOutBeforeTheTickOrStartSending) {
  auto analytics = Make();
  EXPECT_EQ(analytics->sendInterval(), 30000);
  analytics->sendEvent("Lifetime", "Start");
  test::Settle(300);
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_TRUE(sending_changes_.empty());

  analytics->setSendInterval(50);  // the tick alone starts a run
  ASSERT_TRUE(WaitForRun(1));
  EXPECT_EQ(Value(Sent(0), "ea"), "Start");
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
}

class KeepAliveTest : public GAnalyticsTest, public testing::WithParamInterface<bool> {};

TEST_P(KeepAliveTest, ConnectionHeaderFollowsTheQueueAndSendingEndsOnce) {
  const bool server_closes = GetParam();
  server_.SetDefaultReply({200, "", server_closes});
  auto analytics = Make();
  for (const char* action : {"A", "B", "C"}) analytics->sendEvent("Test", action);
  analytics->startSending();
  analytics->startSending();  // a run is going: no second one
  ASSERT_TRUE(WaitForRun(3));
  test::Settle(200);

  ASSERT_EQ(server_.requests().size(), 3u);
  const std::vector<QByteArray> connection = {"keep-alive", "keep-alive", "close"};
  const QStringList actions = {"A", "B", "C"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(server_.requests()[i].Header("Connection"), connection[i]);
    EXPECT_EQ(Value(Sent(i), "ea"), actions[int(i)]);
  }
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
  EXPECT_FALSE(analytics->isSending());
  if (!server_closes) {
    EXPECT_EQ(server_.requests()[1].connection, server_.requests()[0].connection);
  }
}

INSTANTIATE_TEST_SUITE_P(ServerKeepsOrCloses, KeepAliveTest, testing::Bool());

TEST_F(GAnalyticsTest, ClientIdIsStoredAndReused) {
  ASSERT_TRUE(StoredClientId().isEmpty());
  QString first;
  {
    auto analytics = Make();
    first = StoredClientId();
    EXPECT_TRUE(kBracedUuid.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(
        QFileInfo::exists(QString::fromStdString(config_.str()) + "/Vantisol/Vantisol.conf"));
    analytics->startSession();
    analytics->startSending();
    ASSERT_TRUE(WaitForRun(1));
  }
  sending_changes_.clear();
  auto again = Make();
  again->endSession();
  again->startSending();
  ASSERT_TRUE(WaitForRun(2));
  EXPECT_EQ(Value(Sent(0), "cid"), first);
  EXPECT_EQ(Value(Sent(1), "cid"), first);
  EXPECT_EQ(StoredClientId(), first);
}

TEST_F(GAnalyticsTest, StoredClientIdIsUsedAsItIs) {
  QSettings().setValue("GAnalytics-cid", "{installation-7}");
  auto analytics = Make();
  analytics->startSession();
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(1));
  EXPECT_EQ(Value(Sent(0), "cid"), "{installation-7}");
}

TEST_F(GAnalyticsTest, FailedPostKeepsTheHitAndRetriesWithOneLargerQueueTime) {
  server_.Script({500, "", false});
  auto analytics = Make();
  analytics->sendEvent("Lifetime", "Stop");
  Advance(1000);
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(1));
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
  EXPECT_EQ(Value(Sent(0), "qt"), "1000");

  Advance(30000);
  analytics->setSendInterval(50);  // the restarted tick retries
  ASSERT_TRUE(test::WaitFor([&] { return sending_changes_.size() == 4; }));
  test::Settle(200);
  ASSERT_EQ(server_.requests().size(), 2u);
  const Fields retry = Sent(1);
  EXPECT_EQ(Count(retry, "qt"), 1);
  EXPECT_EQ(Value(retry, "qt"), "31000");
  Fields first = Sent(0);
  first.removeLast();
  Fields second = retry;
  second.removeLast();
  EXPECT_EQ(second, first);
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false, true, false}));
}

TEST_F(GAnalyticsTest, UnansweredPostTimesOutKeepsTheHitAndIsSentAgain) {
  HttpReply silent;
  silent.hold = true;
  server_.Script(silent);
  auto analytics = Make();
  EXPECT_EQ(analytics->postTimeout(), 10000);
  analytics->setPostTimeout(300);
  qInstallMessageHandler(RecordDebugLine);
  analytics->sendEvent("Lifetime", "Stop");
  analytics->endSession();
  Advance(1000);
  analytics->startSending();
  // The server holds the first post; its time limit ends the run as a failure would.
  const bool ended = test::WaitFor([&] { return sending_changes_.size() == 2; }, 20000);
  qInstallMessageHandler(nullptr);
  ASSERT_TRUE(ended) << "the run did not end while the server held the post";
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
  ASSERT_EQ(server_.requests().size(), 1u);
  ASSERT_EQ(debug_lines.size(), 1u);
  EXPECT_TRUE(debug_lines[0].startsWith("[Analytics] Error posting message: "));

  // Both hits are still queued, in order, and go out on the next run over a new connection.
  Advance(30000);
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(3));
  ASSERT_EQ(server_.requests().size(), 3u);
  EXPECT_EQ(server_.requests()[1].connection, 2);
  Fields first = Sent(0);
  Fields retry = Sent(1);
  EXPECT_EQ(Value(retry, "qt"), "31000");
  first.removeLast();
  retry.removeLast();
  EXPECT_EQ(retry, first);
  EXPECT_EQ(Value(Sent(2), "sc"), "end");
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false, true, false}));
}

TEST_F(GAnalyticsTest, UnreachableEndpointEndsTheRun) {
  UseEndpoint(QStringLiteral("http://127.0.0.1:%1/collect").arg(test::ClosedPort()));
  auto analytics = Make();
  analytics->endSession();
  analytics->startSending();
  ASSERT_TRUE(test::WaitFor([&] { return sending_changes_.size() == 2; }));
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
  analytics->startSending();  // the hit is still there and goes out again
  ASSERT_TRUE(test::WaitFor([&] { return sending_changes_.size() == 4; }));
}

TEST_F(GAnalyticsTest, AgeLimitIsFourHoursInclusive) {
  auto analytics = Make();
  analytics->sendEvent("Age", "too old");
  Advance(1);
  analytics->sendEvent("Age", "just in time");
  Advance(14400000);
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(1));
  test::Settle(200);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(Value(Sent(0), "ea"), "just in time");
  EXPECT_EQ(Value(Sent(0), "qt"), "14400000");
  EXPECT_EQ(server_.requests()[0].Header("Connection"), "close");
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
}

TEST_F(GAnalyticsTest, RunOfOnlyExpiredHitsStillEnds) {
  auto analytics = Make();
  analytics->sendEvent("Age", "too old");
  Advance(14400001);
  analytics->startSending();
  ASSERT_TRUE(test::WaitFor([&] { return sending_changes_.size() == 2; }));
  test::Settle(200);
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_EQ(sending_changes_, (std::vector<bool>{true, false}));
}

TEST_F(GAnalyticsTest, ClockSetBackGivesNoNegativeQueueTime) {
  auto analytics = Make();
  analytics->sendEvent("Clock", "back");
  Advance(-5000);
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(1));
  EXPECT_EQ(Value(Sent(0), "qt"), "0");
}

TEST_F(GAnalyticsTest, PropertiesAndTheirChangeSignals) {
  auto analytics = Make();
  EXPECT_EQ(analytics->logLevel(), GAnalytics::Error);
  EXPECT_EQ(analytics->language(), "de-ch");
  EXPECT_EQ(analytics->trackingID(), kTrackingId);
  EXPECT_TRUE(analytics->viewportSize().isEmpty());
  EXPECT_FALSE(analytics->isSending());

  int changes = 0;
  const auto count = [&changes] { ++changes; };
  QObject::connect(analytics.get(), &GAnalytics::logLevelChanged, count);
  QObject::connect(analytics.get(), &GAnalytics::viewportSizeChanged, count);
  QObject::connect(analytics.get(), &GAnalytics::languageChanged, count);
  QObject::connect(analytics.get(), &GAnalytics::trackingIDChanged, count);
  QObject::connect(analytics.get(), &GAnalytics::sendIntervalChanged, count);
  analytics->setLogLevel(GAnalytics::Error);
  analytics->setViewportSize(QString());
  analytics->setLanguage("de-ch");
  analytics->setTrackingID(kTrackingId);
  analytics->setSendInterval(30000);
  EXPECT_EQ(changes, 0);
  analytics->setLogLevel(GAnalytics::Debug);
  analytics->setViewportSize("1280x720");
  analytics->setLanguage("fr-fr");
  analytics->setTrackingID("UA-7-1");
  analytics->setSendInterval(60000);
  EXPECT_EQ(changes, 5);

  // The new values are what the next hit carries; the viewport size is never sent.
  analytics->sendEvent("Test", "Properties");
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(1));
  const Fields fields = Sent(0);
  EXPECT_EQ(Value(fields, "ul"), "fr-fr");
  EXPECT_EQ(Value(fields, "tid"), "UA-7-1");
  EXPECT_FALSE(server_.requests()[0].body.contains("1280x720"));
}

TEST_F(GAnalyticsTest, DebugLinesFollowTheLogLevel) {
  server_.Script({200, "", false});
  server_.Script({503, "", false});
  auto analytics = Make();
  qInstallMessageHandler(RecordDebugLine);
  analytics->sendAppView("Quiet");  // Error level: no line
  analytics->setLogLevel(GAnalytics::Info);
  analytics->sendAppView("Standalone");
  analytics->startSending();
  ASSERT_TRUE(WaitForRun(2));
  analytics->setLogLevel(GAnalytics::Debug);
  analytics->sendEvent("Test", "Debug");  // only app views write a line when queued
  analytics->startSending();
  ASSERT_TRUE(test::WaitFor([&] { return sending_changes_.size() == 4; }));
  qInstallMessageHandler(nullptr);

  ASSERT_EQ(debug_lines.size(), 4u);
  EXPECT_EQ(debug_lines[0], "[Analytics] AppView: Standalone");
  // Info level: a sent message gives no line, a failed one does.
  EXPECT_TRUE(debug_lines[1].startsWith("[Analytics] Error posting message: "));
  EXPECT_EQ(debug_lines[2], "[Analytics] Message sent");
  EXPECT_EQ(debug_lines[3], "[Analytics] Message sent");
}

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  // A known locale for the language field and the user agent.
  setenv("LC_ALL", "de_CH.UTF-8", 1);
  // Requests go to the test server on this machine only, never through a proxy.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  QCoreApplication application(argc, argv);
  QCoreApplication::setOrganizationName("Vantisol");
  QCoreApplication::setApplicationName("Vantisol");
  QCoreApplication::setApplicationVersion("2.6.3");
  QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
