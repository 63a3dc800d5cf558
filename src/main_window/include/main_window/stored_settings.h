#pragma once

#include <QObject>
#include <QString>

class QAbstractSlider;
class QSettings;
class QVariant;

namespace vantisol {

// The main window's stored choices as it reads them at start, each with its default when the key
// is missing. A value of another type is converted the way Qt converts it: a word that is no
// number reads as 0, any word but "false" and "0" as true.
struct StoredSettings {
  bool show_welcome = true;
  bool color_correction = true;
  bool automatic_camera = true;
  bool background_blur = false;
  int blur_amount = 10;
  bool background_replacement = false;
  bool face_undistortion = false;
  int face_undistortion_amount = 25;
  bool gaze_correction = false;
  int gaze_correction_amount = 30;
  QString background_path;
  bool preview = true;
  int face_template_scale_width = 100;
  int face_template_scale_height = 100;
};

StoredSettings ReadStoredSettings(const QSettings& store, const QString& default_background);

// A stored amount as `slider` shows it: a value outside the slider's range is limited to it, with a
// warning that names `key`, so that the pipeline never gets more than the user can set.
int LimitToSlider(int stored, const QAbstractSlider& slider, const char* key);

// Writes the window's choices to the per-user store, opened afresh for each write. The first write
// that does not reach the file is logged with the file and the reason and announced through
// `WriteFailed`; later ones are silent, so one writer that lives as long as the program tells the
// user once.
class SettingsWriter : public QObject {
  Q_OBJECT

 public:
  void Write(const QString& key, const QVariant& value);

 signals:
  void WriteFailed(QString file, QString reason);

 private:
  bool failure_reported_ = false;
};

}  // namespace vantisol
