// The program's settings file (QSettings, INI format on Linux) with any content: values of wrong
// types, @Variant blocks, broken groups and escapes. The input is written as the file in a private
// XDG_CONFIG_HOME and read by the main window's reading code; what it reads is stored back and
// must read the same again, as on the program's next start.
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "main_window/stored_settings.h"

namespace {

QString* settings_file = nullptr;
qint64 file_time = 0;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

void WriteFile(const QByteArray& bytes) {
  QFile file(*settings_file);
  Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  Require(file.write(bytes) == bytes.size());
  // QSettings keeps a file it has read while its size and time stay: every write gets a new time.
  Require(file.setFileTime(QDateTime::fromMSecsSinceEpoch(++file_time * 1000),
                           QFileDevice::FileModificationTime));
}

bool Same(const vantisol::StoredSettings& a, const vantisol::StoredSettings& b) {
  return a.show_welcome == b.show_welcome && a.color_correction == b.color_correction &&
         a.automatic_camera == b.automatic_camera && a.background_blur == b.background_blur &&
         a.blur_amount == b.blur_amount && a.background_replacement == b.background_replacement &&
         a.face_undistortion == b.face_undistortion &&
         a.face_undistortion_amount == b.face_undistortion_amount &&
         a.gaze_correction == b.gaze_correction &&
         a.gaze_correction_amount == b.gaze_correction_amount &&
         a.background_path == b.background_path && a.preview == b.preview &&
         a.face_template_scale_width == b.face_template_scale_width &&
         a.face_template_scale_height == b.face_template_scale_height;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // A @Variant block may hold a picture type, which the program decodes with its GUI application.
  static int app_argc = 3;
  static char arg0[] = "fuzz_settings";
  static char arg1[] = "-platform";
  static char arg2[] = "offscreen";
  static char* app_argv[] = {arg0, arg1, arg2, nullptr};
  (void)argc;
  (void)argv;
  // In memory where there is such a folder: every store is synced to disk.
  const QString temp = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
  static QByteArray root = temp.toLocal8Bit() + "/vantisol-fuzz-settings-XXXXXX";
  Require(mkdtemp(root.data()) != nullptr);
  std::atexit([] { QDir(QString::fromLocal8Bit(root)).removeRecursively(); });
  setenv("XDG_CONFIG_HOME", root.constData(), 1);
  setenv("XDG_RUNTIME_DIR", root.constData(), 1);
  // Kept to the end of the process: its platform pieces are not freed on destruction.
  static QGuiApplication* app = new QGuiApplication(app_argc, app_argv);
  (void)app;
  QCoreApplication::setOrganizationName("Vantisol");
  QCoreApplication::setApplicationName("Vantisol");
  Require(QDir(QString::fromLocal8Bit(root)).mkpath("Vantisol"));
  settings_file = new QString(QString::fromLocal8Bit(root) + "/Vantisol/Vantisol.conf");
  Require(QSettings().fileName() == *settings_file);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFile(QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)));
  const QString default_background = "/opt/vantisol/background.jpg";
  const vantisol::StoredSettings read =
      vantisol::ReadStoredSettings(QSettings(), default_background);

  // Stored back as the window stores each choice, then read as on the next start.
  WriteFile(QByteArray());
  {
    QSettings store;
    store.setValue("show_welcome", read.show_welcome);
    store.setValue("enable_color_correction", read.color_correction);
    store.setValue("enable_automatic_camera", read.automatic_camera);
    store.setValue("enable_background_blur", read.background_blur);
    store.setValue("blur_amount", read.blur_amount);
    store.setValue("enable_background_replacement", read.background_replacement);
    store.setValue("enable_face_undistortion", read.face_undistortion);
    store.setValue("face_undistortion_amount", read.face_undistortion_amount);
    store.setValue("enable_gaze_correction", read.gaze_correction);
    store.setValue("gaze_correction_amount", read.gaze_correction_amount);
    store.setValue("background_path", read.background_path);
    store.setValue("enable_preview", read.preview);
    store.setValue("face_template_scale_width", read.face_template_scale_width);
    store.setValue("face_template_scale_height", read.face_template_scale_height);
    store.sync();
    Require(store.status() == QSettings::NoError);
  }
  Require(Same(vantisol::ReadStoredSettings(QSettings(), default_background), read));
  return 0;
}
