#pragma once

#include <QString>

class QSettings;

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

}  // namespace vantisol
