#pragma once

#include <QSize>
#include <QString>
#include <QWidget>
#include <map>

#include "ui_advanced_settings_widget.h"
#include "utils/camera_image.h"

namespace vantisol {

class VantisolPipeline;

// The tuning and diagnosis window (Alt+A): output resolution, debug drawing, segmentation, colour
// correction and gaze options, all reaching the pipeline through its setters and locking
// accessors.
class AdvancedSettingsWidget : public QWidget, public Ui::AdvancedSettingsWidget {
  Q_OBJECT

 public:
  explicit AdvancedSettingsWidget(VantisolPipeline* pipeline);

  // The size of the current resolution entry.
  Size resolution() const;

 signals:
  void SizeChanged(QSize size);

 public slots:
  // The size a virtual-camera client asks for; a size without area releases the choice.
  void SetSize(QSize size);

 private:
  void Init();

  std::map<QString, Size> resolutions_;
  VantisolPipeline* pipeline_;
};

}  // namespace vantisol
