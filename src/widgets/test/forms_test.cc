#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWindow>
#include <functional>
#include <tuple>

#include "ui_advanced_settings_widget.h"
#include "ui_calib_widget.h"
#include "ui_settings_widget.h"
#include "ui_welcome_widget.h"
#include "widgets/letterbox_layout.h"
#include "widgets_test_support.h"

namespace vantisol {
namespace {

using Cell = std::tuple<int, int, int, int>;

Cell CellOf(QGridLayout* grid, QWidget* widget) {
  int row = -1, column = -1, row_span = -1, column_span = -1;
  const int index = grid->indexOf(widget);
  if (index >= 0) grid->getItemPosition(index, &row, &column, &row_span, &column_span);
  return {row, column, row_span, column_span};
}

bool IsFixed(QWidget* widget, QSize size) {
  return widget->minimumSize() == size && widget->maximumSize() == size;
}

// The icon's pixmap for one state, as an image to compare with a resource.
QImage IconImage(const QIcon& icon, QIcon::State state) {
  return icon.pixmap(QSize(120, 120), QIcon::Normal, state)
      .toImage()
      .convertToFormat(QImage::Format_ARGB32);
}

QImage Resource(const QString& path) { return QImage(path).convertToFormat(QImage::Format_ARGB32); }

// The anchors of a rich text as (text, href) pairs, with the format of each.
struct Anchor {
  QString text;
  QString href;
  QTextCharFormat format;
};

std::vector<Anchor> Anchors(const QString& html) {
  QTextDocument document;
  document.setHtml(html);
  std::vector<Anchor> anchors;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (fragment.charFormat().isAnchor()) {
        anchors.push_back(
            {fragment.text(), fragment.charFormat().anchorHref(), fragment.charFormat()});
      }
    }
  }
  return anchors;
}

QString PlainText(const QString& html) {
  QTextDocument document;
  document.setHtml(html);
  return document.toPlainText();
}

bool IsLinkStyle(const QTextCharFormat& format) {
  // Qt reads the style's weight 600 as bold.
  return format.fontWeight() >= QFont::DemiBold && format.fontUnderline() &&
         format.foreground().color() == QColor("#1aabe3");
}

class FormsTest : public testing::Test {
 protected:
  void SetUp() override { test::TakeQtWarnings(); }
  // A form whose style sheet does not parse, or whose pictures do not load, makes Qt warn.
  void TearDown() override { EXPECT_EQ(test::TakeQtWarnings(), QStringList()) << "Qt warned"; }
};

struct EffectButton {
  QPushButton* Ui::SettingsWidget::*member;
  const char* name;
  Cell cell;
  const char* icon;
  const char* tool_tip;
};

TEST_F(FormsTest, MainFormButtons) {
  QWidget window;
  Ui::SettingsWidget form;
  form.setupUi(&window);
  EXPECT_EQ(window.objectName(), "SettingsWidget");
  EXPECT_EQ(window.size(), QSize(176, 634));
  EXPECT_EQ(window.windowTitle(), "Vantisol");
  EXPECT_FALSE(window.autoFillBackground());
  ASSERT_EQ(window.layout(), form.grid_layout);
  EXPECT_EQ(form.grid_layout->objectName(), "grid_layout");

  const EffectButton effects[] = {
      {&Ui::SettingsWidget::color_correction_button_,
       "color_correction_button_",
       {0, 2, 1, 1},
       ":/vantisol_buttons_relighting.png",
       "Lighting Correction"},
      {&Ui::SettingsWidget::automatic_camera_button_,
       "automatic_camera_button_",
       {1, 2, 1, 1},
       ":/vantisol_buttons_auto_cam.png",
       "Automatic Camera"},
      {&Ui::SettingsWidget::background_replacement_button_,
       "background_replacement_button_",
       {2, 2, 1, 1},
       ":/vantisol_buttons_bg_blur2.png",
       "Background Replacement<br><b>Alpha Version</b>"},
      {&Ui::SettingsWidget::background_blur_button_,
       "background_blur_button_",
       {3, 2, 1, 1},
       ":/vantisol_buttons_bg_blur.png",
       "Background Blur<br><b>Alpha Version</b>"},
      {&Ui::SettingsWidget::face_undistortion_button_,
       "face_undistortion_button_",
       {4, 2, 1, 1},
       ":/vantisol_buttons_face_undistort.png",
       "Face Undistortion<br><b>Alpha Version</b>"},
      {&Ui::SettingsWidget::gaze_correction_button_,
       "gaze_correction_button_",
       {5, 2, 1, 1},
       ":/vantisol_buttons_gaze_correction.png",
       "Gaze Correction<br>(Eye Contact)<br><b>Alpha Version</b>"},
  };
  for (const EffectButton& effect : effects) {
    QPushButton* button = window.findChild<QPushButton*>(effect.name);
    ASSERT_NE(button, nullptr) << effect.name;
    EXPECT_EQ(button, form.*effect.member) << effect.name;
    EXPECT_EQ(CellOf(form.grid_layout, button), effect.cell) << effect.name;
    EXPECT_TRUE(IsFixed(button, QSize(70, 70))) << effect.name;
    EXPECT_TRUE(button->isCheckable()) << effect.name;
    EXPECT_EQ(button->iconSize(), QSize(60, 60)) << effect.name;
    EXPECT_EQ(IconImage(button->icon(), QIcon::Off), Resource(effect.icon)) << effect.name;
    EXPECT_EQ(button->toolTip(), effect.tool_tip) << effect.name;
    EXPECT_TRUE(button->text().isEmpty()) << effect.name;
  }

  struct SmallButton {
    QPushButton* button;
    const char* name;
    Cell cell;
    bool checkable;
    const char* icon;
    const char* tool_tip;
  };
  const SmallButton small[] = {
      {form.background_replacement_settings_button,
       "background_replacement_settings_button",
       {2, 3, 1, 1},
       false,
       ":/vantisol_buttons_background.png",
       "Select background<br>image"},
      {form.video_preview_button_,
       "video_preview_button_",
       {6, 2, 1, 1},
       true,
       ":/vantisol_buttons_arrow_left.png",
       "Video Preview"},
      {form.calib_button_,
       "calib_button_",
       {6, 3, 1, 1},
       false,
       ":/vantisol_buttons_face_mask.png",
       "<html><head/><body><p>Adapt face mask</p></body></html>"},
  };
  for (const SmallButton& entry : small) {
    ASSERT_EQ(window.findChild<QPushButton*>(entry.name), entry.button) << entry.name;
    EXPECT_EQ(CellOf(form.grid_layout, entry.button), entry.cell) << entry.name;
    EXPECT_TRUE(IsFixed(entry.button, QSize(50, 50))) << entry.name;
    EXPECT_EQ(entry.button->isCheckable(), entry.checkable) << entry.name;
    EXPECT_FALSE(entry.button->isFlat()) << entry.name;
    EXPECT_EQ(entry.button->iconSize(), QSize(40, 40)) << entry.name;
    EXPECT_EQ(IconImage(entry.button->icon(), QIcon::Off), Resource(entry.icon)) << entry.name;
    EXPECT_EQ(entry.button->toolTip(), entry.tool_tip) << entry.name;
    EXPECT_TRUE(entry.button->text().isEmpty()) << entry.name;
  }
  // The preview button shows the other arrow while checked.
  EXPECT_EQ(IconImage(form.video_preview_button_->icon(), QIcon::On),
            Resource(":/vantisol_buttons_arrow_right.png"));
}

TEST_F(FormsTest, MainFormSlidersLinksAndSliderVisibility) {
  QWidget window;
  Ui::SettingsWidget form;
  form.setupUi(&window);

  const std::tuple<QSlider*, const char*, Cell, int> sliders[] = {
      {form.blur_slider_, "blur_slider_", {3, 3, 1, 1}, 30},
      {form.face_undistortion_slider_, "face_undistortion_slider_", {4, 3, 1, 1}, 40},
      {form.gaze_correction_slider_, "gaze_correction_slider_", {5, 3, 1, 1}, 60},
  };
  for (const auto& [slider, name, cell, maximum] : sliders) {
    ASSERT_EQ(window.findChild<QSlider*>(name), slider) << name;
    EXPECT_EQ(CellOf(form.grid_layout, slider), cell) << name;
    EXPECT_EQ(slider->orientation(), Qt::Vertical) << name;
    EXPECT_EQ(slider->minimum(), 0) << name;
    EXPECT_EQ(slider->maximum(), maximum) << name;
    EXPECT_EQ(slider->maximumHeight(), 70) << name;
  }

  ASSERT_EQ(window.findChild<QFrame*>("frame"), form.frame);
  EXPECT_EQ(CellOf(form.grid_layout, form.frame), Cell(7, 2, 1, 2));
  EXPECT_EQ(form.frame->minimumHeight(), 50);
  EXPECT_EQ(form.frame->maximumHeight(), 50);
  EXPECT_EQ(form.frame->maximumWidth(), QWIDGETSIZE_MAX);
  EXPECT_EQ(form.frame->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(form.frame->frameShadow(), QFrame::Plain);
  EXPECT_EQ(form.frame->lineWidth(), 0);
  ASSERT_EQ(form.frame->layout(), form.verticalLayout);
  EXPECT_EQ(form.verticalLayout->spacing(), 6);
  EXPECT_EQ(form.verticalLayout->contentsMargins(), QMargins(0, 3, 0, 3));
  ASSERT_EQ(window.findChild<QFrame*>("filler"), form.filler);
  EXPECT_EQ(CellOf(form.grid_layout, form.filler), Cell(0, 3, 1, 1));
  EXPECT_TRUE(IsFixed(form.filler, QSize(50, 50)));
  EXPECT_EQ(form.filler->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(form.filler->frameShadow(), QFrame::Plain);

  const std::tuple<QLabel*, const char*, QSize, const char*> labels[] = {
      {form.help_label, "help_label", QSize(75, 16), "Get Help"},
      {form.contact_label, "contact_label", QSize(80, 16), "Contact"},
  };
  for (const auto& [label, name, size, text] : labels) {
    ASSERT_EQ(form.frame->findChild<QLabel*>(name), label) << name;
    EXPECT_TRUE(IsFixed(label, size)) << name;
    EXPECT_EQ(label->textFormat(), Qt::RichText) << name;
    EXPECT_TRUE(label->openExternalLinks()) << name;
    const auto anchors = Anchors(label->text());
    ASSERT_EQ(anchors.size(), 1u) << name;
    EXPECT_EQ(anchors[0].text, text) << name;
    EXPECT_TRUE(anchors[0].href.startsWith("https://")) << name;
    EXPECT_TRUE(IsLinkStyle(anchors[0].format)) << name;
  }
  EXPECT_EQ(form.contact_label->indent(), -1);

  // Each amount slider (and the background button) follows its effect button.
  const std::pair<QPushButton*, QWidget*> pairs[] = {
      {form.background_blur_button_, form.blur_slider_},
      {form.background_replacement_button_, form.background_replacement_settings_button},
      {form.gaze_correction_button_, form.gaze_correction_slider_},
      {form.face_undistortion_button_, form.face_undistortion_slider_},
  };
  for (const auto& [button, follower] : pairs) {
    button->setChecked(true);
    button->setChecked(false);
    EXPECT_TRUE(follower->isHidden()) << follower->objectName().toStdString();
    button->setChecked(true);
    EXPECT_FALSE(follower->isHidden()) << follower->objectName().toStdString();
  }
  // Only its own button moves a follower.
  form.background_blur_button_->setChecked(false);
  EXPECT_TRUE(form.blur_slider_->isHidden());
  EXPECT_FALSE(form.gaze_correction_slider_->isHidden());
  EXPECT_FALSE(form.face_undistortion_slider_->isHidden());
  EXPECT_FALSE(form.background_replacement_settings_button->isHidden());
}

QRgb PixelAt(const QImage& image, QWidget* window, QWidget* widget, QPoint offset) {
  return image.pixel(widget->mapTo(window, offset));
}

// The main form as the main window lays it out: the preview column on the left, letterboxed.
class MainFormWindow {
 public:
  MainFormWindow() {
    QFontDatabase::addApplicationFont(":/levenim-mt.ttf");
    QPalette palette = window_.palette();
    palette.setColor(QPalette::Window, QColor("#f5f5f5"));
    window_.setPalette(palette);
    window_.setAutoFillBackground(true);
    form_.setupUi(&window_);
    auto* container = new QWidget();
    form_.grid_layout->addWidget(container, 0, 0, 9, 2);
    layout_ = new LetterboxLayout(container);
    layout_->setContentsMargins(0, 0, 0, 0);
    preview_ = new QLabel();
    preview_->setScaledContents(true);
    preview_->setPixmap(QPixmap::fromImage(Stand_in()));
    layout_->addWidget(preview_);
  }

  QWidget& window() { return window_; }
  Ui::SettingsWidget& form() { return form_; }
  QLabel* preview() { return preview_; }

 private:
  // A picture standing in for the camera: a 16:9 gradient.
  static QImage Stand_in() {
    QImage image(320, 180, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 180);
    gradient.setColorAt(0, QColor(40, 60, 90));
    gradient.setColorAt(1, QColor(200, 150, 110));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::white);
    painter.drawEllipse(QPointF(160, 80), 40, 50);
    return image;
  }

  QWidget window_;
  Ui::SettingsWidget form_;
  LetterboxLayout* layout_ = nullptr;
  QLabel* preview_ = nullptr;
};

TEST_F(FormsTest, MainFormStyleOnScreen) {
  MainFormWindow main;
  Ui::SettingsWidget& form = main.form();
  // The store's defaults: lighting and automatic camera on, preview on, the rest off.
  form.color_correction_button_->setChecked(true);
  form.automatic_camera_button_->setChecked(true);
  for (QPushButton* off : {form.background_replacement_button_, form.background_blur_button_,
                           form.face_undistortion_button_}) {
    off->setChecked(true);
    off->setChecked(false);
  }
  form.gaze_correction_button_->setChecked(true);
  form.video_preview_button_->setChecked(true);
  form.calib_button_->setEnabled(false);
  main.window().resize(900, 634);
  main.window().show();
  QElapsedTimer timer;
  timer.start();
  while (!main.window().windowHandle()->isExposed() && timer.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ASSERT_TRUE(main.window().windowHandle()->isExposed()) << "window not exposed within 5 s";
  QApplication::processEvents();
  const QImage shot = main.window().grab().toImage();
  test::SaveScreenshot(shot, "main_form");

  QWidget* window = &main.window();
  // The style sheet's font reaches the widgets.
  EXPECT_EQ(QFontInfo(form.help_label->font()).family(), "levenim MT");
  EXPECT_EQ(form.help_label->font().pixelSize(), 14);
  // Button faces between the border and the icon: checked, unchecked, preview, disabled.
  const QPoint face(35, 3);
  EXPECT_EQ(PixelAt(shot, window, form.color_correction_button_, face), QColor("#E1EFFB").rgb());
  EXPECT_EQ(PixelAt(shot, window, form.background_blur_button_, face), qRgb(255, 255, 255));
  EXPECT_EQ(PixelAt(shot, window, form.video_preview_button_, QPoint(25, 3)), qRgb(255, 255, 255));
  EXPECT_EQ(PixelAt(shot, window, form.calib_button_, QPoint(25, 3)), QColor("#F0F0F0").rgb());
  // Sliders are 30 px wide, groove in the highlight colour.
  EXPECT_EQ(form.gaze_correction_slider_->width(), 30);
  EXPECT_TRUE(form.blur_slider_->isHidden());
  EXPECT_EQ(PixelAt(shot, window, form.gaze_correction_slider_, QPoint(15, 2)),
            QColor("#00aeef").rgb());
  // The preview keeps 16:9 in its column.
  const QRect preview = main.preview()->geometry();
  EXPECT_NEAR(double(preview.width()) / preview.height(), 16.0 / 9.0, 0.01);
}

TEST_F(FormsTest, AdvancedSettingsForm) {
  QWidget window;
  Ui::AdvancedSettingsWidget form;
  form.setupUi(&window);
  EXPECT_EQ(window.objectName(), "AdvancedSettingsWidget");
  EXPECT_EQ(window.windowTitle(), "Advanced Settings");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(IconImage(window.windowIcon(), QIcon::Off), Resource(":/icon.png"));

  // Groups in order, then the reset button and the two labels.
  const std::pair<const char*, const char*> groups[] = {{"camera", "Camera"},
                                                        {"rendering", "Rendering"},
                                                        {"segmentation", "Segmenter"},
                                                        {"face_undistortion", "Face Tracking"},
                                                        {"color_correction", "Color Correction"},
                                                        {"gaze_correction", "Gaze Correction"}};
  auto* top = window.findChild<QVBoxLayout*>("verticalLayout");
  ASSERT_NE(top, nullptr);
  ASSERT_EQ(top->count(), 9);
  for (int i = 0; i < 6; ++i) {
    auto* group = qobject_cast<QGroupBox*>(top->itemAt(i)->widget());
    ASSERT_NE(group, nullptr) << i;
    EXPECT_EQ(group->objectName(), groups[i].first);
    EXPECT_EQ(group->title(), groups[i].second);
  }
  EXPECT_EQ(top->itemAt(6)->widget(), form.reset_pipeline_button);
  EXPECT_EQ(top->itemAt(7)->widget(), form.fps_label);
  EXPECT_EQ(top->itemAt(8)->widget(), form.graphics_card_info_label);

  // {group, class, object name, text}
  const std::tuple<const char*, const char*, const char*, const char*> controls[] = {
      {"camera", "QLabel", "label", "Resolution"},
      {"camera", "QComboBox", "resolutions_combo_box", ""},
      {"camera", "QCheckBox", "pause_checkbox", "Pause"},
      {"camera", "QCheckBox", "single_user_mode_checkbox", "Singe User Mode"},
      {"rendering", "QCheckBox", "draw_background_checkbox", "Draw background"},
      {"rendering", "QCheckBox", "draw_mesh_checkbox", "Draw mesh"},
      {"rendering", "QCheckBox", "show_faces_checkbox", "Draw face bbox"},
      {"rendering", "QRadioButton", "depthmap_geometry_button", "Geometry"},
      {"rendering", "QRadioButton", "depthmap_texture_button", "Texture"},
      {"rendering", "QCheckBox", "draw_landmarks_checkbox", "Draw landmarks"},
      {"rendering", "QRadioButton", "mesh_texture_button", "Texture"},
      {"rendering", "QRadioButton", "mesh_geometry_button", "Geometry"},
      {"rendering", "QCheckBox", "draw_depthmap_checkbox", "Draw depthmap"},
      {"segmentation", "QCheckBox", "personify_checkbox", "Use Personify"},
      {"segmentation", "QCheckBox", "bw_segmentation_checkbox", "B/W segmentation"},
      {"segmentation", "QCheckBox", "bw_segmentation_history_checkbox", "Use History"},
      {"segmentation", "QPushButton", "bw_segmentation_reset_history_button", "Reset History"},
      {"segmentation", "QLabel", "label_2", "BG Threshold"},
      {"segmentation", "QCheckBox", "bg_thresh_auto_checkbox", "Auto"},
      {"segmentation", "QLabel", "bg_thresh_min_label", "0"},
      {"segmentation", "QSlider", "bg_thresh_slider", ""},
      {"segmentation", "QLabel", "bg_thresh_max_label", "max"},
      {"face_undistortion", "QPushButton", "adapt_mesh_scale_button", "Adapt Mesh Scale"},
      {"face_undistortion", "QPushButton", "reset_mesh_scale_button", "Reset Mesh Scale"},
      {"color_correction", "QCheckBox", "sw_color_correction_checkbox", "SW Color correction"},
      {"color_correction", "QCheckBox", "bilateral_filter_checkbox", "Bilateral Filter"},
      {"color_correction", "QLabel", "sigma_spatial_label", "σ spatial"},
      {"color_correction", "QDoubleSpinBox", "sigma_spatial_spinbox", ""},
      {"color_correction", "QLabel", "sigma_range_label", "σ range"},
      {"color_correction", "QDoubleSpinBox", "sigma_range_spinbox", ""},
      {"gaze_rotation", "QLabel", "label_4", "Rotate Face"},
      {"gaze_rotation", "QLabel", "label_6", "0"},
      {"gaze_rotation", "QSlider", "gaze_rotate_face_slider", ""},
      {"gaze_rotation", "QLabel", "label_7", "max"},
      {"gaze_open_eyes", "QLabel", "label_5", "Rotate Eyes"},
      {"gaze_open_eyes", "QLabel", "label_8", "0"},
      {"gaze_open_eyes", "QSlider", "gaze_rotate_eyes_slider", ""},
      {"gaze_open_eyes", "QLabel", "label_9", "max"},
      {"", "QPushButton", "reset_pipeline_button", "Reset Pipeline"},
      {"", "QLabel", "fps_label", "FPS"},
      {"", "QLabel", "graphics_card_info_label", "Graphics Card Info"},
  };
  for (const auto& [group_name, class_name, name, text] : controls) {
    QObject* parent = *group_name ? window.findChild<QGroupBox*>(group_name) : &window;
    ASSERT_NE(parent, nullptr) << group_name;
    auto* widget = parent->findChild<QWidget*>(name);
    ASSERT_NE(widget, nullptr) << name;
    EXPECT_TRUE(widget->inherits(class_name)) << name;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      EXPECT_EQ(button->text(), QString::fromUtf8(text)) << name;
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(label->text(), QString::fromUtf8(text)) << name;
    }
  }
  EXPECT_NE(window.findChild<QGroupBox*>("gaze_correction")->findChild<QGroupBox*>("gaze_rotation"),
            nullptr);
  EXPECT_NE(
      window.findChild<QGroupBox*>("gaze_correction")->findChild<QGroupBox*>("gaze_open_eyes"),
      nullptr);

  for (QPushButton* button :
       {form.bw_segmentation_reset_history_button, form.adapt_mesh_scale_button,
        form.reset_mesh_scale_button, form.reset_pipeline_button}) {
    EXPECT_EQ(button->minimumWidth(), 120) << button->objectName().toStdString();
    EXPECT_EQ(button->maximumWidth(), 120) << button->objectName().toStdString();
  }
  EXPECT_EQ(form.adapt_mesh_scale_button->toolTip(),
            "<html><head/><body><p>For best results, look at the camera with a neutral "
            "expression when pressing this button. </p></body></html>");
  EXPECT_EQ(form.bg_thresh_slider->orientation(), Qt::Horizontal);
  EXPECT_EQ(form.bg_thresh_slider->minimum(), 0);
  EXPECT_EQ(form.bg_thresh_slider->maximum(), 5000);
  EXPECT_EQ(form.bg_thresh_slider->value(), 2500);
  for (QSlider* slider : {form.gaze_rotate_face_slider, form.gaze_rotate_eyes_slider}) {
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
  }
  EXPECT_EQ(form.sigma_spatial_spinbox->decimals(), 1);
  EXPECT_EQ(form.sigma_range_spinbox->decimals(), 3);
  EXPECT_DOUBLE_EQ(form.sigma_range_spinbox->maximum(), 10.0);
  EXPECT_DOUBLE_EQ(form.sigma_range_spinbox->singleStep(), 0.01);
  EXPECT_TRUE(form.bw_segmentation_history_checkbox->isChecked());
  EXPECT_TRUE(form.depthmap_geometry_button->isChecked());
  EXPECT_TRUE(form.mesh_texture_button->isChecked());

  // Each pair of mode buttons is exclusive on its own.
  form.depthmap_texture_button->click();
  EXPECT_FALSE(form.depthmap_geometry_button->isChecked());
  EXPECT_TRUE(form.mesh_texture_button->isChecked());
  form.mesh_geometry_button->click();
  EXPECT_FALSE(form.mesh_texture_button->isChecked());
  EXPECT_TRUE(form.depthmap_texture_button->isChecked());

  // "Auto" greys out the threshold slider and its two labels.
  for (bool automatic : {true, false, true}) {
    form.bg_thresh_auto_checkbox->setChecked(automatic);
    for (QWidget* widget : {static_cast<QWidget*>(form.bg_thresh_slider),
                            static_cast<QWidget*>(form.bg_thresh_min_label),
                            static_cast<QWidget*>(form.bg_thresh_max_label)}) {
      EXPECT_EQ(widget->isEnabled(), !automatic) << widget->objectName().toStdString();
    }
  }
  test::SaveScreenshot(window.grab().toImage(), "advanced_settings_form");
}

TEST_F(FormsTest, WelcomeForm) {
  QWidget window;
  Ui::WelcomeWidget form;
  form.setupUi(&window);
  EXPECT_EQ(window.objectName(), "WelcomeWidget");
  EXPECT_EQ(window.windowTitle(), "Frame");
  EXPECT_EQ(window.size(), QSize(720, 492));
  ASSERT_EQ(window.layout(), form.gridLayout);
  EXPECT_EQ(form.gridLayout->contentsMargins(), QMargins(0, 0, 0, 0));
  EXPECT_EQ(CellOf(form.gridLayout, form.bg_frame_), Cell(0, 0, 1, 1));
  EXPECT_EQ(form.bg_frame_->frameShape(), QFrame::StyledPanel);
  EXPECT_EQ(form.bg_frame_->frameShadow(), QFrame::Raised);
  EXPECT_EQ(form.message_frame_->parentWidget(), form.bg_frame_);
  EXPECT_TRUE(IsFixed(form.message_frame_, QSize(400, 400)));
  EXPECT_EQ(form.message_frame_->frameShape(), QFrame::StyledPanel);
  EXPECT_EQ(form.message_frame_->frameShadow(), QFrame::Raised);
  EXPECT_EQ(form.message_frame_->font().family(), "levenim MT");
  ASSERT_EQ(form.message_frame_->layout(), form.verticalLayout_2);
  EXPECT_EQ(form.verticalLayout_2->spacing(), 10);
  EXPECT_EQ(form.verticalLayout_2->contentsMargins(), QMargins(20, 20, 20, 20));

  EXPECT_EQ(form.label->textFormat(), Qt::RichText);
  EXPECT_EQ(form.label->alignment(), Qt::AlignCenter);
  EXPECT_TRUE(form.label->wordWrap());
  EXPECT_TRUE(form.label->openExternalLinks());
  EXPECT_EQ(PlainText(form.label->text()),
            "Welcome to Vantisol\n"
            "Using the buttons on the right, you can \nenable various video call effects. \n"
            "Find out how to use Vantisol in \nSkype, Hangouts, ooVoo, \nZoom, Vidyo and others. \n"
            "More information is available in the \nVantisol Manual.");
  const auto anchors = Anchors(form.label->text());
  const QStringList programs = {"Skype", "Hangouts", "ooVoo", "Zoom", "Vidyo", "others"};
  ASSERT_EQ(anchors.size(), 8u);
  QStringList hrefs;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(anchors[i].text, programs[i]);
    EXPECT_TRUE(IsLinkStyle(anchors[i].format)) << i;
    hrefs << anchors[i].href;
  }
  EXPECT_EQ(QSet<QString>(hrefs.begin(), hrefs.end()).size(), 6);  // one article each
  EXPECT_EQ(anchors[6].text, "Vantisol Manual");
  EXPECT_TRUE(IsLinkStyle(anchors[6].format));
  EXPECT_EQ(anchors[7].text, ".");
  EXPECT_EQ(anchors[7].href, anchors[6].href);
  EXPECT_TRUE(anchors[7].format.fontUnderline());
  EXPECT_EQ(anchors[7].format.foreground().color(), QColor(Qt::black));

  EXPECT_EQ(form.frame->maximumHeight(), 20);
  ASSERT_EQ(form.frame->layout(), form.gridLayout_2);
  EXPECT_EQ(form.gridLayout_2->spacing(), 0);
  EXPECT_EQ(form.gridLayout_2->contentsMargins(), QMargins(0, 0, 0, 0));
  EXPECT_EQ(form.show_welcome_checkbox_->parentWidget(), form.frame);
  EXPECT_EQ(form.show_welcome_checkbox_->text(), "Don't show this message again");
  EXPECT_EQ(form.show_welcome_checkbox_->maximumWidth(), 234);
  EXPECT_EQ(form.frame_2->minimumHeight(), 70);
  EXPECT_EQ(form.frame_2->maximumHeight(), 70);
  ASSERT_EQ(form.frame_2->layout(), form.horizontalLayout);
  EXPECT_EQ(form.ok_button_->parentWidget(), form.frame_2);
  EXPECT_TRUE(IsFixed(form.ok_button_, QSize(50, 50)));
  EXPECT_EQ(form.ok_button_->text(), "OK");
  window.grab();
}

TEST_F(FormsTest, CalibrationForm) {
  QWidget window;
  Ui::CalibWidget form;
  form.setupUi(&window);
  EXPECT_EQ(window.objectName(), "CalibWidget");
  EXPECT_EQ(window.size(), QSize(300, 350));
  EXPECT_EQ(window.windowTitle(), "Vantisol");
  ASSERT_EQ(window.layout(), form.verticalLayout);
  const QWidget* order[] = {form.label_4, form.show_geometry_checkbox_, form.slider_widget_,
                            form.buttons_widget_};
  ASSERT_EQ(form.verticalLayout->count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(form.verticalLayout->itemAt(i)->widget(), order[i]) << i;

  EXPECT_GE(form.label_4->minimumHeight(), 100);
  EXPECT_EQ(form.label_4->textFormat(), Qt::RichText);
  EXPECT_EQ(PlainText(form.label_4->text()).remove(QChar::ObjectReplacementCharacter),
            "For best eye contact and face undistortion results, adapt the size of the mask to "
            "match your face. Use the sliders to interactively change the width and height. ");
  QTextDocument help;
  help.setHtml(form.label_4->text());
  QStringList images, blue;
  for (auto it = help.begin().begin(); !it.atEnd(); ++it) {
    const QTextCharFormat format = it.fragment().charFormat();
    if (format.isImageFormat()) images << format.toImageFormat().name();
    if (format.foreground().color() == QColor("#00aeef")) blue << it.fragment().text();
    if (!format.isImageFormat()) EXPECT_DOUBLE_EQ(format.fontPointSize(), 11.0);
  }
  EXPECT_EQ(images, (QStringList{":/gaze_correction.ico", ":/face_undistortion.ico"}));
  EXPECT_EQ(blue, (QStringList{"eye contact", "face undistortion"}));

  EXPECT_EQ(form.show_geometry_checkbox_->text(), "Show mask");
  EXPECT_TRUE(form.show_geometry_checkbox_->isChecked());
  ASSERT_EQ(form.slider_widget_->layout(), form.gridLayout);
  EXPECT_EQ(CellOf(form.gridLayout, form.label), Cell(1, 0, 1, 1));
  EXPECT_TRUE(IsFixed(form.label, QSize(100, 100)));
  EXPECT_TRUE(form.label->hasScaledContents());
  EXPECT_EQ(form.label->alignment(), Qt::AlignCenter);
  ASSERT_NE(form.label->pixmap(), nullptr);
  EXPECT_EQ(form.label->pixmap()->toImage().convertToFormat(QImage::Format_ARGB32),
            Resource(":/mesh_scale_arrows.png"));
  EXPECT_EQ(CellOf(form.gridLayout, form.height_slider_), Cell(1, 1, 1, 1));
  EXPECT_EQ(CellOf(form.gridLayout, form.width_slider_), Cell(1, 2, 1, 1));
  EXPECT_EQ(form.height_slider_->orientation(), Qt::Vertical);
  EXPECT_EQ(form.width_slider_->orientation(), Qt::Horizontal);
  for (QSlider* slider : {form.height_slider_, form.width_slider_}) {
    EXPECT_EQ(slider->minimum(), 80);
    EXPECT_EQ(slider->maximum(), 120);
    EXPECT_EQ(slider->value(), 100);
  }
  EXPECT_EQ(form.height_slider_->maximumHeight(), 70);
  EXPECT_EQ(form.width_slider_->minimumWidth(), 70);
  EXPECT_EQ(form.width_slider_->maximumWidth(), 70);
  EXPECT_EQ(CellOf(form.gridLayout, form.label_2), Cell(2, 1, 1, 1));
  EXPECT_EQ(CellOf(form.gridLayout, form.label_3), Cell(2, 2, 1, 1));
  EXPECT_EQ(form.label_2->text(), "Height");
  EXPECT_EQ(form.label_3->text(), "Width");
  EXPECT_EQ(form.label_2->alignment(), Qt::AlignCenter);
  EXPECT_EQ(form.label_3->alignment(), Qt::AlignCenter);
  ASSERT_EQ(form.buttons_widget_->layout(), form.horizontalLayout);
  for (const auto& [button, text] :
       {std::pair<QPushButton*, const char*>{form.reset_button_, "Reset"},
        {form.ok_button_, "OK"}}) {
    EXPECT_EQ(button->parentWidget(), form.buttons_widget_);
    EXPECT_TRUE(IsFixed(button, QSize(70, 40)));
    EXPECT_EQ(button->text(), text);
  }
  // Both slider orientations are styled 30 px across.
  test::SaveScreenshot(window.grab().toImage(), "calibration_form");
  EXPECT_EQ(form.height_slider_->width(), 30);
  EXPECT_EQ(form.width_slider_->height(), 30);
}

}  // namespace
}  // namespace vantisol
