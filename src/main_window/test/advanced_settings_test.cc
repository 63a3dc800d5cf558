// The advanced panel and the calibration panel against a running pipeline: every switch reaches
// its object through the pipeline's accessors; before the objects exist a switch changes nothing.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QDir>
#include <QObject>
#include <memory>
#include <utility>
#include <vector>

#include "algorithms/renderer.h"
#include "face_tracking/face_tracker.h"
#include "main_window/advanced_settings_widget.h"
#include "main_window/calib_widget.h"
#include "opengl/image_filters.h"
#include "opengl_qt/opengl_context.h"
#include "program_test_support.h"
#include "test_folder.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "watchdog.h"

namespace vantisol {
namespace {

using test::WaitFor;

TEST(AdvancedSettingsTest, SwitchesBeforeTheObjectsExistChangeNothing) {
  test::LogRecorder log;
  VantisolPipeline pipeline;
  AdvancedSettingsWidget panel(&pipeline);
  EXPECT_FALSE(panel.isVisible());
  // Without a bilateral filter the spin boxes keep the form's values.
  const double spatial = panel.sigma_spatial_spinbox->value();
  panel.draw_background_checkbox->setChecked(false);
  panel.draw_mesh_checkbox->setChecked(true);
  panel.mesh_geometry_button->click();
  panel.adapt_mesh_scale_button->click();
  panel.pause_checkbox->setChecked(true);
  panel.sigma_spatial_spinbox->setValue(spatial + 1.0);
  EXPECT_EQ(log.Count("Renderer has not been created yet."), 3);
  EXPECT_EQ(log.Count("Face template has not been created yet."), 1);
  EXPECT_EQ(log.Count("Camera not available yet."), 1);
  EXPECT_GE(log.Count("Bilateral Filter has not been created yet."), 1);
  // The pipeline mutex was released each time: a setter still goes through.
  panel.show_faces_checkbox->setChecked(true);
  EXPECT_TRUE(pipeline.settings().draw_faces);

  CalibWidget calib(&pipeline, 100, 100);
  calib.show();
  calib.hide();
  EXPECT_GE(log.Count("Renderer has not been created yet."), 4);
}

class RunningPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string run = folder_.str() + "/run";
    QDir().mkpath(QString::fromStdString(run));
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    gui_context_.CreateContext();
    gui_context_.SetContext();
    pipeline_.SetSharedContext();
    test::Bounded(
        "the render thread's start-up hand-shake", [this] { pipeline_.InitializeOpenglContext(); },
        test::kStartLimit);
    pipeline_.RunWithSize({1280, 720}, false);
    // The renderer is made with the first frame that has a face.
    ASSERT_TRUE(WaitFor([this] { return static_cast<bool>(pipeline_.renderer()); }, 30000));
  }

  template <typename T>
  T Read(T Renderer::*member) {
    auto renderer = pipeline_.renderer();
    return (*renderer).*member;
  }

  test::TemporaryFolder folder_;
  OpenGLContext gui_context_{false};
  VantisolPipeline pipeline_;
};

TEST_F(RunningPipelineTest, EverySwitchReachesItsObject) {
  AdvancedSettingsWidget panel(&pipeline_);
  panel.draw_background_checkbox->setChecked(false);
  EXPECT_FALSE(Read(&Renderer::draw_background_));
  panel.draw_landmarks_checkbox->setChecked(true);
  EXPECT_TRUE(Read(&Renderer::draw_landmarks_));
  panel.draw_depthmap_checkbox->setChecked(true);
  EXPECT_TRUE(Read(&Renderer::draw_depthmap_));
  panel.draw_mesh_checkbox->setChecked(true);
  EXPECT_TRUE(Read(&Renderer::draw_mesh_));

  panel.mesh_geometry_button->click();
  EXPECT_EQ(Read(&Renderer::render_mode_), 0);
  EXPECT_FALSE(panel.mesh_texture_button->isChecked());
  panel.mesh_texture_button->click();
  EXPECT_EQ(Read(&Renderer::render_mode_), 1);
  panel.depthmap_texture_button->click();
  EXPECT_EQ(Read(&Renderer::depthmap_mode_), 1);
  EXPECT_FALSE(panel.depthmap_geometry_button->isChecked());

  panel.gaze_rotate_face_slider->setValue(40);
  panel.gaze_rotate_eyes_slider->setValue(70);
  EXPECT_EQ(Read(&Renderer::face_rotation_amount_), 40);
  EXPECT_EQ(Read(&Renderer::eye_rotation_amount_), 70);

  panel.sigma_spatial_spinbox->setValue(7.5);
  panel.sigma_range_spinbox->setValue(0.25);
  {
    auto filter = pipeline_.bilateral_filter();
    ASSERT_TRUE(filter);
    EXPECT_FLOAT_EQ(filter->sigma_d, 7.5f);
    EXPECT_FLOAT_EQ(filter->sigma_r, 0.25f);
  }

  panel.show_faces_checkbox->setChecked(true);
  panel.sw_color_correction_checkbox->setChecked(false);
  panel.personify_checkbox->setChecked(true);
  panel.bw_segmentation_checkbox->setChecked(true);
  panel.bw_segmentation_history_checkbox->setChecked(false);
  panel.bilateral_filter_checkbox->setChecked(true);
  VantisolPipeline::Settings settings = pipeline_.settings();
  EXPECT_TRUE(settings.draw_faces);
  EXPECT_FALSE(settings.sw_color_correction);
  EXPECT_TRUE(settings.personify);
  EXPECT_TRUE(settings.bw_segmentation);
  EXPECT_FALSE(settings.use_history);
  EXPECT_TRUE(settings.bilateral_filter);

  // The depth threshold: automatic (-1) until "Auto" is cleared, then the slider's value.
  EXPECT_FALSE(panel.bg_thresh_slider->isEnabled());
  panel.bg_thresh_auto_checkbox->setChecked(false);
  EXPECT_EQ(pipeline_.settings().bg_thresh, 2500);
  EXPECT_TRUE(panel.bg_thresh_slider->isEnabled());
  panel.bg_thresh_slider->setValue(1200);
  EXPECT_EQ(pipeline_.settings().bg_thresh, 1200);
  panel.bg_thresh_auto_checkbox->setChecked(true);
  EXPECT_EQ(pipeline_.settings().bg_thresh, -1);
  EXPECT_FALSE(panel.bg_thresh_slider->isEnabled());
  EXPECT_FALSE(panel.bg_thresh_min_label->isEnabled());

  panel.bw_segmentation_reset_history_button->click();
  EXPECT_TRUE(pipeline_.settings().reset_history);

  // Mesh scale: a reset puts every template back to 1 after a non-unit scale.
  {
    auto tracker = pipeline_.face_tracker();
    ASSERT_TRUE(tracker);
    tracker->SetScale(1.2f, 0.9f, 1.0f);
  }
  panel.reset_mesh_scale_button->click();
  {
    auto tracker = pipeline_.face_tracker();
    EXPECT_FLOAT_EQ(tracker->base_template_->scale_[0], 1.0f);
    EXPECT_FLOAT_EQ(tracker->base_template_->scale_[1], 1.0f);
  }
}

// The panel's exclusive and dependent controls, each way: the other button of a mode pair goes
// off and the renderer takes the clicked mode; "Auto" greys out the manual threshold and back.
TEST_F(RunningPipelineTest, TiedControlsFollowInEachDirection) {
  AdvancedSettingsWidget panel(&pipeline_);
  struct ModePair {
    const char* name;
    QAbstractButton* clicked;
    QAbstractButton* other;
    int Renderer::*member;
    int mode;
  };
  const ModePair pairs[] = {
      {"depthmap texture", panel.depthmap_texture_button, panel.depthmap_geometry_button,
       &Renderer::depthmap_mode_, 1},
      {"depthmap geometry", panel.depthmap_geometry_button, panel.depthmap_texture_button,
       &Renderer::depthmap_mode_, 0},
      {"mesh geometry", panel.mesh_geometry_button, panel.mesh_texture_button,
       &Renderer::render_mode_, 0},
      {"mesh texture", panel.mesh_texture_button, panel.mesh_geometry_button,
       &Renderer::render_mode_, 1},
  };
  for (const ModePair& pair : pairs) {
    SCOPED_TRACE(pair.name);
    pair.clicked->click();
    EXPECT_TRUE(pair.clicked->isChecked());
    EXPECT_FALSE(pair.other->isChecked());
    EXPECT_EQ(Read(pair.member), pair.mode);
  }

  const QWidget* manual[] = {panel.bg_thresh_slider, panel.bg_thresh_min_label,
                             panel.bg_thresh_max_label};
  panel.bg_thresh_slider->setValue(1700);
  for (const bool automatic : {false, true}) {
    SCOPED_TRACE(automatic ? "Auto on" : "Auto off");
    panel.bg_thresh_auto_checkbox->setChecked(automatic);
    for (const QWidget* widget : manual) {
      EXPECT_EQ(widget->isEnabled(), !automatic) << widget->objectName().toStdString();
    }
    EXPECT_EQ(pipeline_.settings().bg_thresh, automatic ? -1 : 1700);
  }
}

TEST_F(RunningPipelineTest, CalibrationPanelShowsTheMaskWhileOpen) {
  {
    auto renderer = pipeline_.renderer();
    renderer->draw_mesh_ = false;
    renderer->render_mode_ = 1;
  }
  CalibWidget calib(&pipeline_, 105, 90);
  EXPECT_EQ(calib.windowTitle(), "Adapt face mask");
  EXPECT_EQ(calib.width_slider_->value(), 105);
  EXPECT_EQ(calib.height_slider_->value(), 90);
  std::vector<std::pair<int, int>> scale;
  int reset = 0;
  QObject::connect(&calib, &CalibWidget::UpdateScale,
                   [&scale](int width, int height) { scale.emplace_back(width, height); });
  QObject::connect(&calib, &CalibWidget::ResetScale, [&reset] { ++reset; });
  calib.show();
  EXPECT_TRUE(Read(&Renderer::draw_mesh_));
  EXPECT_EQ(Read(&Renderer::render_mode_), 0);
  calib.show_geometry_checkbox_->setChecked(false);
  EXPECT_EQ(Read(&Renderer::render_mode_), 1);
  calib.width_slider_->setValue(110);
  ASSERT_EQ(scale.size(), 1u);
  EXPECT_EQ(scale[0], std::make_pair(110, 90));
  calib.reset_button_->pressed();
  // Two sliders moved back, then the reset itself.
  EXPECT_EQ(scale.size(), 3u);
  EXPECT_EQ(scale.back(), std::make_pair(100, 100));
  EXPECT_EQ(reset, 1);
  calib.ok_button_->pressed();
  EXPECT_FALSE(calib.isVisible());
  EXPECT_FALSE(Read(&Renderer::draw_mesh_));
  EXPECT_EQ(Read(&Renderer::render_mode_), 1);
}

}  // namespace
}  // namespace vantisol
