#pragma once

#include <QWidget>

#include "ui_calib_widget.h"

namespace vantisol {

class VantisolPipeline;

// Lets the user fit the face mask's width and height (percent) and shows the mask while open.
class CalibWidget : public QWidget, public Ui::CalibWidget {
  Q_OBJECT

 public:
  CalibWidget(VantisolPipeline* pipeline, int width, int height, QWidget* parent = nullptr);

 signals:
  void UpdateScale(int width, int height);
  void ResetScale();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  VantisolPipeline* pipeline_;
  bool saved_draw_mesh_ = false;
  int saved_render_mode_ = 1;
  // Whether the values above came from the renderer when the panel was last shown.
  bool saved_ = false;
};

}  // namespace vantisol
