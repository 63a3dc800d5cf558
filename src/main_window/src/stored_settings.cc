#include "main_window/stored_settings.h"

#include <QSettings>
#include <QVariant>

namespace vantisol {

StoredSettings ReadStoredSettings(const QSettings& store, const QString& default_background) {
  StoredSettings read;
  const auto flag = [&store](const char* key, bool default_value) {
    return store.value(key, default_value).toBool();
  };
  const auto amount = [&store](const char* key, int default_value) {
    return store.value(key, default_value).toInt();
  };
  read.show_welcome = flag("show_welcome", read.show_welcome);
  read.color_correction = flag("enable_color_correction", read.color_correction);
  read.automatic_camera = flag("enable_automatic_camera", read.automatic_camera);
  read.background_blur = flag("enable_background_blur", read.background_blur);
  read.blur_amount = amount("blur_amount", read.blur_amount);
  read.background_replacement = flag("enable_background_replacement", read.background_replacement);
  read.face_undistortion = flag("enable_face_undistortion", read.face_undistortion);
  read.face_undistortion_amount = amount("face_undistortion_amount", read.face_undistortion_amount);
  read.gaze_correction = flag("enable_gaze_correction", read.gaze_correction);
  read.gaze_correction_amount = amount("gaze_correction_amount", read.gaze_correction_amount);
  read.background_path = store.value("background_path", default_background).toString();
  read.preview = flag("enable_preview", read.preview);
  read.face_template_scale_width =
      amount("face_template_scale_width", read.face_template_scale_width);
  read.face_template_scale_height =
      amount("face_template_scale_height", read.face_template_scale_height);
  return read;
}

}  // namespace vantisol
