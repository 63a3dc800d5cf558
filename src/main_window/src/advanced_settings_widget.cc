#include "main_window/advanced_settings_widget.h"

#include <QButtonGroup>

#include "algorithms/renderer.h"
#include "camera/camera.h"
#include "face_tracking/face_tracker.h"
#include "opengl/image_filters.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "widgets/scroll_panel_fit.h"

namespace vantisol {
namespace {

// The virtual camera offers the same sizes in the same order.
const Size kResolutions[] = {{640, 480}, {960, 720},  {640, 360},
                             {960, 540}, {1024, 675}, {1280, 720}};

QString SizeText(int width, int height) { return QString("%1x%2").arg(width).arg(height); }

}  // namespace

AdvancedSettingsWidget::AdvancedSettingsWidget(VantisolPipeline* pipeline) : pipeline_(pipeline) {
  setupUi(this);
  new ScrollPanelFit(this, scroll_area);
  Init();
}

Size AdvancedSettingsWidget::resolution() const {
  const auto found = resolutions_.find(resolutions_combo_box->currentText());
  return found == resolutions_.end() ? Size{} : found->second;
}

void AdvancedSettingsWidget::SetSize(QSize size) {
  if (size.width() < 1 || size.height() < 1) {
    resolutions_combo_box->setEnabled(true);
    return;
  }
  resolutions_combo_box->setEnabled(false);
  const int index = resolutions_combo_box->findText(SizeText(size.width(), size.height()));
  if (index >= 0 && index != resolutions_combo_box->currentIndex()) {
    resolutions_combo_box->setCurrentIndex(index);
  }
}

void AdvancedSettingsWidget::Init() {
  hide();
  VantisolPipeline* pipeline = pipeline_;

  resolutions_combo_box->clear();
  for (const Size& size : kResolutions) {
    const QString text = SizeText(size.width, size.height);
    resolutions_[text] = size;
    resolutions_combo_box->addItem(text);
  }
  resolutions_combo_box->setCurrentIndex(resolutions_combo_box->count() - 1);
  connect(resolutions_combo_box, QOverload<const QString&>::of(&QComboBox::currentIndexChanged),
          this, [this](const QString& text) {
            const auto found = resolutions_.find(text);
            if (found == resolutions_.end()) return;
            emit SizeChanged(QSize(found->second.width, found->second.height));
          });

  connect(pause_checkbox, &QCheckBox::toggled, this, [pipeline](bool on) {
    if (auto camera = pipeline->camera()) camera->SetPaused(on);
  });
  connect(single_user_mode_checkbox, &QCheckBox::toggled, this, [pipeline](bool on) {
    if (auto camera = pipeline->camera()) camera->SetSingleUserMode(on);
  });

  show_faces_checkbox->setChecked(false);
  connect(show_faces_checkbox, &QCheckBox::toggled, this,
          [pipeline](bool on) { pipeline->SetDrawFaces(on); });

  // A renderer switch: the member written under the pipeline mutex, dropped without a renderer.
  auto renderer_switch = [this, pipeline](QCheckBox* box, bool start, bool Renderer::*member) {
    box->setChecked(start);
    connect(box, &QCheckBox::toggled, this, [pipeline, member](bool on) {
      if (auto renderer = pipeline->renderer()) (*renderer).*member = on;
    });
  };
  renderer_switch(draw_background_checkbox, true, &Renderer::draw_background_);
  renderer_switch(draw_landmarks_checkbox, false, &Renderer::draw_landmarks_);
  renderer_switch(draw_depthmap_checkbox, false, &Renderer::draw_depthmap_);

  sw_color_correction_checkbox->setChecked(true);
  connect(sw_color_correction_checkbox, &QCheckBox::toggled, this,
          [pipeline](bool on) { pipeline->SetSwColorCorrection(on); });

  renderer_switch(draw_mesh_checkbox, draw_mesh_checkbox->isChecked(), &Renderer::draw_mesh_);

  auto mode_group = [this, pipeline](QAbstractButton* zero, QAbstractButton* one, int checked,
                                     int Renderer::*member) {
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(zero, 0);
    group->addButton(one, 1);
    (checked == 0 ? zero : one)->setChecked(true);
    connect(group, QOverload<int>::of(&QButtonGroup::buttonClicked), this,
            [pipeline, member](int id) {
              if (auto renderer = pipeline->renderer()) (*renderer).*member = id;
            });
  };
  mode_group(depthmap_geometry_button, depthmap_texture_button, 0, &Renderer::depthmap_mode_);
  mode_group(mesh_geometry_button, mesh_texture_button, 1, &Renderer::render_mode_);

  connect(adapt_mesh_scale_button, &QPushButton::clicked, this, [pipeline] {
    if (auto tracker = pipeline->face_tracker()) tracker->AdaptScale();
  });
  connect(reset_mesh_scale_button, &QPushButton::clicked, this, [pipeline] {
    if (auto tracker = pipeline->face_tracker()) tracker->ResetScale();
  });

  personify_checkbox->setChecked(false);
  connect(personify_checkbox, &QCheckBox::toggled, this,
          [pipeline](bool on) { pipeline->SetPersonify(on); });
  bw_segmentation_checkbox->setChecked(false);
  connect(bw_segmentation_checkbox, &QCheckBox::toggled, this,
          [pipeline](bool on) { pipeline->SetBwSegmentation(on); });
  connect(bw_segmentation_history_checkbox, &QCheckBox::toggled, this,
          [pipeline](bool on) { pipeline->SetUseHistory(on); });
  connect(bw_segmentation_reset_history_button, &QPushButton::clicked, this,
          [pipeline] { pipeline->ResetHistory(); });

  bg_thresh_auto_checkbox->setChecked(true);
  connect(bg_thresh_auto_checkbox, &QCheckBox::toggled, this, [this, pipeline](bool automatic) {
    pipeline->SetBgThresh(automatic ? -1 : bg_thresh_slider->value());
  });
  bg_thresh_slider->setEnabled(false);
  connect(bg_thresh_slider, &QSlider::valueChanged, this,
          [pipeline](int value) { pipeline->SetBgThresh(value); });

  bilateral_filter_checkbox->setChecked(false);
  connect(bilateral_filter_checkbox, &QCheckBox::toggled, this,
          [pipeline](bool on) { pipeline->SetBilateralFilter(on); });
  auto sigma = [this, pipeline](QDoubleSpinBox* box, float BilateralFilter::*member) {
    if (auto filter = pipeline->bilateral_filter()) box->setValue((*filter).*member);
    connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            [pipeline, member](double value) {
              if (auto filter = pipeline->bilateral_filter()) {
                (*filter).*member = static_cast<float>(value);
              }
            });
  };
  sigma(sigma_spatial_spinbox, &BilateralFilter::sigma_d);
  sigma(sigma_range_spinbox, &BilateralFilter::sigma_r);

  auto rotation = [this, pipeline](QSlider* slider, int Renderer::*member) {
    slider->setValue(0);
    connect(slider, &QSlider::valueChanged, this, [pipeline, member](int value) {
      if (auto renderer = pipeline->renderer()) (*renderer).*member = value;
    });
  };
  rotation(gaze_rotate_face_slider, &Renderer::face_rotation_amount_);
  rotation(gaze_rotate_eyes_slider, &Renderer::eye_rotation_amount_);
}

}  // namespace vantisol
