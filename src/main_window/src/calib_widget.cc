#include "main_window/calib_widget.h"

#include "algorithms/renderer.h"
#include "vantisol_pipeline/vantisol_pipeline.h"

namespace vantisol {

CalibWidget::CalibWidget(VantisolPipeline* pipeline, int width, int height, QWidget* parent)
    : QWidget(parent), pipeline_(pipeline) {
  setupUi(this);
  setWindowTitle(QStringLiteral("Adapt face mask"));
  width_slider_->setValue(width);
  height_slider_->setValue(height);
  auto emit_scale = [this] { emit UpdateScale(width_slider_->value(), height_slider_->value()); };
  connect(width_slider_, &QSlider::valueChanged, this, emit_scale);
  connect(height_slider_, &QSlider::valueChanged, this, emit_scale);
  connect(reset_button_, &QPushButton::pressed, this, [this] {
    width_slider_->setValue(100);
    height_slider_->setValue(100);
    emit ResetScale();
  });
  connect(ok_button_, &QPushButton::pressed, this, &QWidget::hide);
  connect(show_geometry_checkbox_, &QCheckBox::toggled, this, [this](bool checked) {
    if (auto renderer = pipeline_->renderer()) renderer->render_mode_ = checked ? 0 : 1;
  });
}

void CalibWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!pipeline_->renderer()) return;
  if (auto renderer = pipeline_->renderer()) {
    saved_render_mode_ = renderer->render_mode_;
    saved_draw_mesh_ = renderer->draw_mesh_;
    saved_ = true;
  }
  if (auto renderer = pipeline_->renderer()) {
    renderer->render_mode_ = show_geometry_checkbox_->isChecked() ? 0 : 1;
  }
  if (auto renderer = pipeline_->renderer()) renderer->draw_mesh_ = true;
}

void CalibWidget::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!saved_) return;
  saved_ = false;
  if (auto renderer = pipeline_->renderer()) {
    renderer->render_mode_ = saved_render_mode_;
    renderer->draw_mesh_ = saved_draw_mesh_;
  }
}

}  // namespace vantisol
