#include "update_check/update_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http_test_server/http_test_server.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

using test::HttpReply;
using test::HttpTestServer;

constexpr char kNotFound[] = "Update check file not found or empty.";
constexpr char kUnreadable[] = "Could not read update check file.";
constexpr char kUpdateRequired[] = "Update required.\n";

std::mutex log_mutex;
std::vector<std::string> log_lines;  // every line as "<LEVEL> <message>"

class LogRecorder : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    std::lock_guard<std::mutex> lock(log_mutex);
    log_lines.push_back(el::LevelHelper::convertToString(data->logMessage()->level()) +
                        std::string(" ") + data->logMessage()->message());
  }
};

// Counts the log lines written since it was made.
class LogLines {
 public:
  LogLines() : first_(Size()) {}
  int Count(const std::string& level, const std::string& message) const {
    return CountIf([&](const std::string& line) { return line == level + " " + message; });
  }
  int CountLevel(const std::string& level) const {
    return CountIf([&](const std::string& line) { return line.rfind(level + " ", 0) == 0; });
  }

 private:
  static size_t Size() {
    std::lock_guard<std::mutex> lock(log_mutex);
    return log_lines.size();
  }
  template <typename Predicate>
  int CountIf(Predicate predicate) const {
    std::lock_guard<std::mutex> lock(log_mutex);
    return int(std::count_if(log_lines.begin() + first_, log_lines.end(), predicate));
  }
  size_t first_;
};

// A message box as the user saw it before the test closed it.
struct SeenBox {
  QString title;
  QString text;
  Qt::TextFormat format;
  QWidget* parent;
  QMessageBox::StandardButtons buttons;
};

// Closes every modal message box that opens while it lives, as a user clicking OK would.
class BoxCloser {
 public:
  BoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      boxes.push_back({box->windowTitle(), box->text(), box->textFormat(), box->parentWidget(),
                       box->standardButtons()});
      box->button(QMessageBox::Ok) != nullptr ? box->button(QMessageBox::Ok)->click()
                                              : box->reject();
    });
    timer_.start(20);
  }
  std::vector<SeenBox> boxes;

 private:
  QTimer timer_;
};

class UpdateCheckTest : public testing::Test {
 protected:
  void SetUp() override { UseBase(server_.Url("/software")); }
  void TearDown() override { unsetenv("VANTISOL_UPDATE_BASE_URL"); }

  static void UseBase(const QString& base) {
    setenv("VANTISOL_UPDATE_BASE_URL", base.toUtf8().constData(), 1);
  }

  // Starts a check and runs the event loop until its reply has been handled; false on timeout.
  bool RunCheck() {
    UpdateCheck check(&window_);
    check.Start();
    auto* network = check.findChild<QNetworkAccessManager*>();
    bool handled = false;
    // Connected after the check's own handler, so this runs once that has returned.
    QObject::connect(network, &QNetworkAccessManager::finished, [&] { handled = true; });
    if (!test::WaitFor([&] { return handled; })) return false;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    replies_left_ = network->findChildren<QNetworkReply*>().size();
    return true;
  }

  void Serve(const QByteArray& body, int status = 200) { server_.Script({status, body, false}); }

  // The reply was handled without a box, with exactly one warning of that text.
  void ExpectWarningOnly(const char* warning) {
    LogLines log;
    closer_.boxes.clear();
    ASSERT_TRUE(RunCheck()) << "no reply within the time limit";
    EXPECT_TRUE(closer_.boxes.empty());
    EXPECT_EQ(log.Count("WARNING", warning), 1);
    EXPECT_EQ(log.CountLevel("WARNING"), 1);
    EXPECT_EQ(log.Count("INFO", kUpdateRequired), 0);
    EXPECT_EQ(replies_left_, 0) << "the reply was not released";
  }

  QWidget window_;
  HttpTestServer server_;
  BoxCloser closer_;
  int replies_left_ = -1;
};

TEST_F(UpdateCheckTest, OneGetForTheVersionFileUnderTheBaseAddress) {
  Serve(R"({"version": "2.6.3", "message": []})");
  ASSERT_TRUE(RunCheck());
  test::Settle(200);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].method, "GET");
  EXPECT_EQ(server_.requests()[0].target, "/software/version.txt");
  EXPECT_TRUE(server_.requests()[0].body.isEmpty());
}

TEST_F(UpdateCheckTest, EachStartHandlesItsOwnReplyOnce) {
  server_.SetDefaultReply({200, R"({"version": "2.7.0", "message": ["m"]})", false});
  LogLines log;
  UpdateCheck check(&window_);
  check.Start();
  check.Start();
  ASSERT_TRUE(test::WaitFor([&] { return closer_.boxes.size() >= 2; }));
  test::Settle(300);
  EXPECT_EQ(server_.requests().size(), 2u);
  EXPECT_EQ(closer_.boxes.size(), 2u);
  EXPECT_EQ(log.Count("INFO", kUpdateRequired), 2);
  EXPECT_EQ(log.CountLevel("WARNING"), 0) << "a reply was handled twice";
}

TEST_F(UpdateCheckTest, NewerVersionsShowTheJoinedMessageOnce) {
  for (const char* version : {"2.6.4", "2.6.10", "2.7.0", "3.0.0", "10.0.0"}) {
    SCOPED_TRACE(version);
    LogLines log;
    closer_.boxes.clear();
    Serve(QByteArray(R"({"version": ")") + version +
          R"(", "message": ["Version 3 is ", "here.\n", "Download it."]})");
    ASSERT_TRUE(RunCheck());
    ASSERT_EQ(closer_.boxes.size(), 1u);
    EXPECT_EQ(closer_.boxes[0].title, "Please update");
    EXPECT_EQ(closer_.boxes[0].text, "Version 3 is here.\nDownload it.");
    EXPECT_EQ(closer_.boxes[0].parent, &window_);
    EXPECT_EQ(closer_.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(log.Count("INFO", kUpdateRequired), 1);
    EXPECT_EQ(log.CountLevel("WARNING"), 0);
    EXPECT_EQ(replies_left_, 0);
  }
}

TEST_F(UpdateCheckTest, SameOrOlderVersionsStayQuiet) {
  for (const char* version : {"2.6.3", "2.6.2", "2.5.9", "2.5.10", "1.9.9", "0.99.99", "2.06.03"}) {
    SCOPED_TRACE(version);
    LogLines log;
    closer_.boxes.clear();
    Serve(QByteArray(R"({"version": ")") + version + R"(", "message": ["New!"]})");
    ASSERT_TRUE(RunCheck());
    EXPECT_TRUE(closer_.boxes.empty());
    EXPECT_EQ(log.Count("INFO", kUpdateRequired), 0);
    EXPECT_EQ(log.CountLevel("WARNING"), 0);
  }
}

TEST_F(UpdateCheckTest, MessageIsShownAsPlainText) {
  Serve(R"({"version": "2.7.0", "message": ["<b>Get</b> ", "<a href='x'>it</a> &amp;"]})");
  ASSERT_TRUE(RunCheck());
  ASSERT_EQ(closer_.boxes.size(), 1u);
  EXPECT_EQ(closer_.boxes[0].text, "<b>Get</b> <a href='x'>it</a> &amp;");
  EXPECT_EQ(closer_.boxes[0].format, Qt::PlainText);
}

TEST_F(UpdateCheckTest, EmptyReplyIsNotFound) {
  Serve("");
  ExpectWarningOnly(kNotFound);
}

TEST_F(UpdateCheckTest, ErrorStatusIsNotFoundWhateverItsBody) {
  Serve(R"({"version": "9.9.9", "message": ["trap"]})", 404);
  ExpectWarningOnly(kNotFound);
}

TEST_F(UpdateCheckTest, RefusedConnectionIsNotFound) {
  UseBase(QStringLiteral("http://127.0.0.1:%1/software").arg(test::ClosedPort()));
  ExpectWarningOnly(kNotFound);
}

TEST_F(UpdateCheckTest, ServerThatHangsUpIsNotFound) {
  server_.Script({200, "", true});
  ExpectWarningOnly(kNotFound);
}

TEST_F(UpdateCheckTest, MalformedJsonIsUnreadable) {
  Serve(R"({"version": "3.0.0", "message": ["x"])");
  ExpectWarningOnly(kUnreadable);
}

TEST_F(UpdateCheckTest, ArrayIsUnreadable) {
  Serve(R"([{"version": "3.0.0", "message": ["x"]}])");
  ExpectWarningOnly(kUnreadable);
}

TEST_F(UpdateCheckTest, StringIsUnreadable) {
  Serve(R"("3.0.0")");
  ExpectWarningOnly(kUnreadable);
}

TEST_F(UpdateCheckTest, VersionThatIsNotThreeNumbersIsUnreadable) {
  for (const char* version :
       {R"(3)", R"("3.0")", R"("3.0.0.1")", R"("3.x.0")", R"("3..0")", R"("")", R"("3.0.-1")",
        R"("3.0.+1")", R"(" 3.0.0")", R"("99999999999.0.0")", R"(null)", R"(["3","0","0"])"}) {
    SCOPED_TRACE(version);
    LogLines log;
    closer_.boxes.clear();
    Serve(QByteArray(R"({"message": ["x"], "version": )") + version + "}");
    ASSERT_TRUE(RunCheck());
    EXPECT_TRUE(closer_.boxes.empty());
    EXPECT_EQ(log.Count("WARNING", kUnreadable), 1);
    EXPECT_EQ(log.CountLevel("WARNING"), 1);
  }
}

TEST_F(UpdateCheckTest, MessageThatIsNotAnArrayOfStringsIsUnreadable) {
  for (const char* message :
       {R"("x")", R"(["a", 1])", R"(["a", null])", R"([["a"]])", R"({"0": "a"})", R"(7)"}) {
    SCOPED_TRACE(message);
    LogLines log;
    closer_.boxes.clear();
    Serve(QByteArray(R"({"version": "3.0.0", "message": )") + message + "}");
    ASSERT_TRUE(RunCheck());
    EXPECT_TRUE(closer_.boxes.empty());
    EXPECT_EQ(log.Count("WARNING", kUnreadable), 1);
    EXPECT_EQ(log.CountLevel("WARNING"), 1);
  }
  Serve(R"({"version": "3.0.0"})");
  ExpectWarningOnly(kUnreadable);
}

TEST_F(UpdateCheckTest, DeepNestingAndBadEncodingAreUnreadable) {
  // A recursive parser would run out of stack long before this depth.
  const int depth = 1000000;
  Serve(QByteArray(depth, '[') + QByteArray(depth, ']'));
  ExpectWarningOnly(kUnreadable);

  LogLines log;
  Serve("{\"version\": \"3.0.0\", \"message\": [\"\xff\xfe\"]}");
  ASSERT_TRUE(RunCheck());
  EXPECT_EQ(log.Count("WARNING", kUnreadable), 1);
  EXPECT_TRUE(closer_.boxes.empty());
}

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  // Requests go to the test server on this machine only, never through a proxy.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  QApplication application(argc, argv);
  QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Helpers::installLogDispatchCallback<vantisol::LogRecorder>("update-check-test");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
