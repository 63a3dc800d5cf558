#include "qt_helpers/helpers.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "test_folder.h"
#include "utils/logging.h"
#include "utils/utils.h"

namespace vantisol {
namespace {

class QtMessageRoutingTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", folder_.str().c_str(), 1);
    InstallQtMessageHandler(true);
    testing::internal::CaptureStdout();
    LogToFile(true, "");
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override {
    InstallQtMessageHandler(false);
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  }

  std::vector<std::string> Lines() {
    el::Loggers::flushAll();
    std::ifstream in(folder_.str() + "/Vantisol/logs/qt_helpers_test.release.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  test::TemporaryFolder folder_;
};

TEST_F(QtMessageRoutingTest, WarningLandsOnLoggerQtWithItsContext) {
  QMessageLogger("widget.cc", 42, "void Widget::Paint()").warning("no surface");
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("WARNING no surface(widget.cc:42, void Widget::Paint()) [Qt] ", 0), 0u)
      << lines[0];
}

TEST_F(QtMessageRoutingTest, MissingContextAndLevelTable) {
  QtMessageOutput(QtWarningMsg, QMessageLogContext(), "bare");
  QtMessageOutput(QtDebugMsg, QMessageLogContext(), "d");
  QtMessageOutput(QtInfoMsg, QMessageLogContext(), "i");
  QtMessageOutput(QtCriticalMsg, QMessageLogContext(), "c");
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("WARNING bare(?:0, ?) [Qt] ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("INFO d(?:0, ?) [Qt]", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("INFO i(?:0, ?) [Qt]", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("ERROR c(?:0, ?) [Qt]", 0), 0u) << lines[3];
}

TEST_F(QtMessageRoutingTest, RemovedHandlerWritesNothingToTheLog) {
  InstallQtMessageHandler(false);
  qWarning("goes to standard error");
  EXPECT_TRUE(Lines().empty());
}

TEST(QtMessageRoutingDeathTest, FatalMessageEndsTheProcess) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        InstallQtMessageHandler(true);
        qFatal("unrecoverable");
      },
      "");
}

TEST(CriticalErrorDeathTest, ClosingTheBoxEndsWithCodeOne) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        // Close the modal box as a user would, once it is shown.
        QTimer::singleShot(100, [] {
          for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
              if (box->windowTitle() == "Critical Error" && box->text() == "Camera Error") {
                box->button(QMessageBox::Ok)->click();
              }
            }
          }
        });
        ShowCriticalError("Camera Error");
      },
      testing::ExitedWithCode(1), "");
}

TEST(CriticalErrorDeathTest, RichTextGoesInAsItIsWithClickableLinks) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  // A camera module's message: plain first line, then links and breaks.
  const QString message =
      "Could not enable the camera.\nPlease <a href='https://example.test/runtime'>download</a> "
      "the newest runtime.<br><br>More help on <a href='https://example.test/help'>help</a>";
  EXPECT_EXIT(
      {
        QTimer::singleShot(100, [message] {
          auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
          const auto* label = box ? box->findChild<QLabel*>("qt_msgbox_label") : nullptr;
          if (label == nullptr) std::_Exit(3);
          const bool as_is = box->text() == message && label->textFormat() == Qt::RichText;
          const bool clickable = label->openExternalLinks() &&
                                 (label->textInteractionFlags() & Qt::LinksAccessibleByMouse);
          if (!as_is) std::_Exit(4);
          if (!clickable) std::_Exit(5);
          box->button(QMessageBox::Ok)->click();
        });
        ShowCriticalError(message);
      },
      testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
