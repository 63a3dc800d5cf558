#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <mutex>

#include "widgets/resources.h"
#include "widgets_test_support.h"

namespace vantisol {
namespace test {
namespace {

std::mutex warnings_mutex;
QStringList warnings;

void RecordQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  fprintf(stderr, "Qt: %s\n", qPrintable(message));
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  std::lock_guard<std::mutex> lock(warnings_mutex);
  warnings.append(message);
}

}  // namespace

QStringList TakeQtWarnings() {
  std::lock_guard<std::mutex> lock(warnings_mutex);
  QStringList taken;
  taken.swap(warnings);
  return taken;
}

void SaveScreenshot(const QImage& image, const QString& name) {
  const QByteArray folder = qgetenv("VANTISOL_SCREENSHOT_DIR");
  if (!folder.isEmpty()) image.save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
}

QString ReadForm(const QString& file_name) {
  QFile file(QStringLiteral(WIDGETS_FORMS_DIR "/") + file_name);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

}  // namespace test
}  // namespace vantisol

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qInstallMessageHandler(vantisol::test::RecordQtMessage);
  QApplication application(argc, argv);
  vantisol::RegisterWidgetResources();
  vantisol::test::TakeQtWarnings();
  return RUN_ALL_TESTS();
}
