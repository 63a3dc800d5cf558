#include "main_window/main_window.h"

#include <easylogging++.h>

#include <QAbstractSlider>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaType>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSettings>
#include <QSurfaceFormat>
#include <QTimer>
#include <QVariantMap>
#include <algorithm>
#include <stdexcept>
#include <typeinfo>

#include "main_window/advanced_settings_widget.h"
#include "main_window/calib_widget.h"
#include "main_window/gl_version.h"
#include "main_window/settings_writer.h"
#include "main_window/stored_settings.h"
#include "opengl_qt/texture_render_widget.h"
#include "plugin_interface/plugin_interface.h"
#include "update_check/update_check.h"
#include "utils/unrecorded_accesses.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "watermark_renderer/watermark_renderer.h"
#include "widgets/letterbox_layout.h"
#include "widgets/resources.h"
#include "widgets/welcome_widget.h"

Q_DECLARE_METATYPE(std::shared_ptr<vantisol::LockedTexture>)

namespace vantisol {
namespace {

const char kMajor[] = "2";
const char kMinor[] = "6";
const char kPatch[] = "3";
const char kHelpPage[] = "https://vantisol.example/help";
// Stopping waits this long at most for analytics to finish sending. A post that hangs already ends
// sending after its own 10 s limit; this bound is longer, so a busy machine still gets its hits
// out, and only a server that answers too slowly hit after hit meets it.
constexpr int kQuitWaitMs = 15000;

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString DefaultBackgroundPath() { return ProgramFolder() + "/background.jpg"; }

// `message` is rich text.
QString FatalText(const QString& message) {
  return QString(
             "<p style=\"font-family:'levenim MT'; font-size:14px;\"> Vantisol has to terminate:"
             "<br><br>%1.<br><br>Please have a look at our <a href=\"%2\"><span "
             "style=\"color:#00aeef; font-weight:bold;\">support page</span></a> for help.</p>")
      .arg(message, QString::fromLatin1(kHelpPage));
}

// A stored amount as `slider` shows it: a value outside the slider's range is limited to it, with a
// warning that names `key`, so that the pipeline never gets more than the user can set.
int LimitToSlider(int stored, const QAbstractSlider& slider, const char* key) {
  const int limited = std::clamp(stored, slider.minimum(), slider.maximum());
  if (limited != stored) {
    LOG(WARNING) << "Stored " << key << " " << stored << " limited to " << limited;
  }
  return limited;
}

}  // namespace

void SetApplicationInfo() {
  QCoreApplication::setOrganizationName("Vantisol");
  QCoreApplication::setApplicationName("Vantisol");
  QCoreApplication::setApplicationVersion(QString("%1.%2.%3").arg(kMajor, kMinor, kPatch));
}

QString WindowTitle() { return QString("Vantisol - %1.%2.%3 Alpha").arg(kMajor, kMinor, kPatch); }

MainWindow::MainWindow(std::shared_ptr<SettingsWriter> settings)
    : QOpenGLWidget(nullptr),
      analytics_(AnalyticsTrackingID()),
      settings_(settings ? std::move(settings) : std::make_shared<SettingsWriter>()) {
  connect(settings_.get(), &SettingsWriter::WriteFailed, this, &MainWindow::TellSettingsNotKept);
  pipeline_ = std::make_unique<VantisolPipeline>();
  watermark_renderer_ = std::make_unique<WatermarkRenderer>();
  update_check_ = std::make_unique<UpdateCheck>(this);
  LOG(INFO) << "MainWindow";

  analytics_.startSession();
  analytics_.sendEvent("Lifetime", "Start");
  analytics_.startSending();

  try {
    plugin_interface_ = std::make_unique<PluginInterface>();
  } catch (const std::runtime_error&) {
    DisplayError("Vantisol is already running, cannot start a second instance...", true);
    return;
  }

  InitUi();

  if (context() == nullptr || !context()->isValid()) {
    // clang-format off
    const char* message = "It seems that we could not create an OpenGL context. Please note that Vantisol requires an accessible graphics card to work.";
    // clang-format on
    DisplayError(message, true);
    return;
  }

  connect(plugin_interface_.get(), &PluginInterface::SizeChanged, this, [this](QSize size) {
    if ((size.width() < 1 || size.height() < 1) && isHidden()) Stop();
  });
  qRegisterMetaType<std::shared_ptr<LockedTexture>>("std::shared_ptr<vantisol::LockedTexture>");
  qRegisterMetaType<std::shared_ptr<LockedTexture>>("LockedTexture");
  // The name as the signal spells it, for connections that resolve the type by name.
  qRegisterMetaType<std::shared_ptr<LockedTexture>>("std::shared_ptr<LockedTexture>");
  connect(&tray_icon_, &QSystemTrayIcon::activated, this, &MainWindow::PutForeground);
  connect(this, &MainWindow::ImageUpdated, this, &MainWindow::ShowImage, Qt::QueuedConnection);
  connect(this, &MainWindow::FatalErrorSignal, this, &MainWindow::DisplayError);
  ConnectPipeline();

  adjustSize();
  const Size start = advanced_settings_->resolution();
  SetSize(QSize(start.width, start.height));
  update_check_->Start();
}

MainWindow::~MainWindow() {
  LOG(INFO) << "~MainWindow";
  disconnect(this, &MainWindow::ImageUpdated, this, &MainWindow::ShowImage);
  disconnect();
  LOG(INFO) << "Deleting pipeline...";
  pipeline_.reset();
  LOG(INFO) << "Deleting processor";
  plugin_interface_.reset();
  watermark_renderer_.reset();
  // The panels are top-level windows of their own; the rest goes with the members.
  calib_widget_.reset();
  advanced_settings_.reset();
}

void MainWindow::ConnectPipeline() {
  pipeline_->error_signal_.connect([this](std::string message) { OnPipelineError(message); });
  pipeline_->overlay_signal_.connect([this](Texture& frame, LatencyCalculator& latency) {
    latency.Checkpoint("Draw Watermark");
    watermark_renderer_->Draw(frame);
  });
  pipeline_->output_signal_.connect(
      [this](std::shared_ptr<LockedTexture> texture, LatencyCalculator latency) {
        OnFrame(std::move(texture), std::move(latency));
      });
}

void MainWindow::OnFrame(std::shared_ptr<LockedTexture> texture, LatencyCalculator latency) {
  latency.Checkpoint("Emit Qt");
  {
    // Qt copies the pointer into its queued event and hands the event to the GUI thread under a
    // lock of its own, which the thread sanitizer cannot see.
    UnrecordedAccesses copy_for_qt;
    emit ImageUpdated(texture);
  }
  latency.Checkpoint("Plugin Process");
  if (plugin_interface_) plugin_interface_->Process(texture, latency);
}

void MainWindow::OnPipelineError(std::string message) {
  QString text;
  for (const char c : message) text.append(QChar(static_cast<unsigned char>(c)));
  emit FatalErrorSignal(text, true);
}

void MainWindow::InitUi() {
  QSurfaceFormat format = QSurfaceFormat::defaultFormat();
  format.setVersion(4, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  setFormat(format);

  RegisterWidgetResources();
  setWindowIcon(QIcon(":/logo.ico"));
  setStyleSheet("background-color:#f5f5f5;");
  QFontDatabase::addApplicationFont(":/levenim-mt.ttf");
  setupUi(this);

  preview_container_ = new QWidget(this);
  grid_layout->addWidget(preview_container_, 0, 0, 9, 2);
  letterbox_layout_ = new LetterboxLayout(preview_container_);
  letterbox_layout_->setMargin(0);
  preview_ = new TextureRenderWidget(preview_container_);
  letterbox_layout_->addWidget(preview_);

  const StoredSettings stored = ReadStoredSettings(QSettings(), DefaultBackgroundPath());
  if (stored.show_welcome) {
    welcome_widget_ = new WelcomeWidget(this);
    welcome_widget_->show();
    connect(welcome_widget_->ok_button_, &QPushButton::pressed, this, &MainWindow::OnWelcomeClosed);
  }

  InitSettings(stored);
  InitAdvancedSettings();

  tray_icon_.setIcon(QIcon(":/icon.png"));
  tray_icon_.setVisible(true);
  ui_initialised_ = true;
}

void MainWindow::AddToggle(QAbstractButton* button, const QString& label, const QString& key,
                           bool value, Callback callback) {
  if (!callback) throw std::logic_error("AddToggle: empty callback");
  button->setChecked(value);
  callback(value);
  connect(button, &QAbstractButton::toggled, this,
          [this, label, key, callback](bool checked) { OnToggle(checked, label, key, callback); });
}

void MainWindow::OnToggle(bool checked, const QString& label, const QString& key,
                          const Callback& callback) {
  callback(checked);
  settings_->Write(key, checked);
  analytics_.sendEvent("Feature Toggle", label, checked ? "On" : "Off");
  ReportFeatureState();
}

void MainWindow::AddAmountSlider(QSlider* slider, const char* key, int value,
                                 const std::function<void(int)>& apply) {
  const int shown = LimitToSlider(value, *slider, key);
  slider->setValue(shown);
  apply(shown);
}

void MainWindow::InitSettings(const StoredSettings& stored) {
  VantisolPipeline* pipeline = pipeline_.get();
  AddToggle(color_correction_button_, "Color Correction", "enable_color_correction",
            stored.color_correction, [this, pipeline](bool on) {
              pipeline->SetColorCorrection(on);
              // The segmentation history learnt under the old colours is dropped once the new
              // correction has settled.
              QTimer::singleShot(on ? 15000 : 5000, this, &MainWindow::ResetSegmentation);
            });
  AddToggle(automatic_camera_button_, "Automatic Camera", "enable_automatic_camera",
            stored.automatic_camera, [pipeline](bool on) { pipeline->SetAutomaticCamera(on); });
  AddToggle(background_blur_button_, "Background Blur", "enable_background_blur",
            stored.background_blur, [this, pipeline](bool on) {
              if (on) {
                background_replacement_button_->setChecked(false);
                pipeline->SetBackgroundMode(1);
              } else if (pipeline->background_mode() == 1) {
                pipeline->SetBackgroundMode(0);
              }
            });
  AddAmountSlider(blur_slider_, "blur_amount", stored.blur_amount,
                  [pipeline](int value) { pipeline->SetBlurAmount(value); });
  connect(blur_slider_, &QSlider::valueChanged, this, &MainWindow::OnBlurAmountChanged);
  blur_slider_->setVisible(background_blur_button_->isChecked());

  AddToggle(background_replacement_button_, "Background Replacement",
            "enable_background_replacement", stored.background_replacement,
            [this, pipeline](bool on) {
              if (on) {
                background_blur_button_->setChecked(false);
                pipeline->SetBackgroundMode(2);
              } else if (pipeline->background_mode() == 2) {
                pipeline->SetBackgroundMode(0);
              }
            });
  AddToggle(face_undistortion_button_, "Face Undistortion", "enable_face_undistortion",
            stored.face_undistortion, [pipeline](bool on) { pipeline->SetFaceUndistortion(on); });
  AddAmountSlider(face_undistortion_slider_, "face_undistortion_amount",
                  stored.face_undistortion_amount,
                  [pipeline](int value) { pipeline->SetFaceUndistortionAmount(value); });
  connect(face_undistortion_slider_, &QSlider::valueChanged, this,
          &MainWindow::OnFaceUndistortionAmountChanged);
  face_undistortion_slider_->setVisible(face_undistortion_button_->isChecked());

  AddToggle(gaze_correction_button_, "Gaze Correction", "enable_gaze_correction",
            stored.gaze_correction, [pipeline](bool on) { pipeline->SetGazeCorrection(on); });
  AddAmountSlider(gaze_correction_slider_, "gaze_correction_amount", stored.gaze_correction_amount,
                  [pipeline](int value) { pipeline->SetGazeCorrectionAmount(value); });
  connect(gaze_correction_slider_, &QSlider::valueChanged, this,
          &MainWindow::OnGazeCorrectionAmountChanged);
  gaze_correction_slider_->setVisible(gaze_correction_button_->isChecked());

  const QString default_background = DefaultBackgroundPath();
  const QString& background = stored.background_path;
  if (!pipeline->SetBackground(background.toStdString())) {
    ReportError("Could not set background: " + background, ErrorText::kOutside, false);
    pipeline->SetBackground(default_background.toStdString());
    settings_->Write("background_path", default_background);
  }
  connect(background_replacement_settings_button, &QPushButton::clicked, this,
          &MainWindow::SelectBackground);
  background_replacement_settings_button->setVisible(background_replacement_button_->isChecked());

  AddToggle(video_preview_button_, "Preview Video", "enable_preview", stored.preview,
            [this](bool on) { ShowPreview(on); });

  calib_widget_ = std::make_unique<CalibWidget>(pipeline, stored.face_template_scale_width,
                                                stored.face_template_scale_height);
  pipeline->SetFaceTemplateScale(
      LimitToSlider(stored.face_template_scale_width, *calib_widget_->width_slider_,
                    "face_template_scale_width"),
      LimitToSlider(stored.face_template_scale_height, *calib_widget_->height_slider_,
                    "face_template_scale_height"));
  connect(calib_button_, &QPushButton::pressed, this, &MainWindow::ShowCalibWidget);
  connect(calib_widget_.get(), &CalibWidget::UpdateScale, this,
          &MainWindow::OnFaceTemplateScaleChanged);
  connect(calib_widget_.get(), &CalibWidget::ResetScale, this,
          &MainWindow::OnFaceTemplateScaleReset);
}

void MainWindow::InitAdvancedSettings() {
  advanced_settings_ = std::make_unique<AdvancedSettingsWidget>(pipeline_.get());
  if (!graphics_card_text_.isEmpty()) {
    advanced_settings_->graphics_card_info_label->setText(graphics_card_text_);
  }
  connect(advanced_settings_->reset_pipeline_button, &QPushButton::pressed, this,
          &MainWindow::ResetPipeline);
  connect(plugin_interface_.get(), &PluginInterface::SizeChanged, advanced_settings_.get(),
          &AdvancedSettingsWidget::SetSize);
  connect(advanced_settings_.get(), &AdvancedSettingsWidget::SizeChanged, this,
          &MainWindow::SetSize);
  const Size requested = plugin_interface_->requested_size();
  advanced_settings_->SetSize(QSize(requested.width, requested.height));
  const int gaze = gaze_correction_slider_->value();
  advanced_settings_->gaze_rotate_face_slider->setValue(gaze);
  advanced_settings_->gaze_rotate_eyes_slider->setValue(gaze);
}

void MainWindow::OnBlurAmountChanged(int value) {
  pipeline_->SetBlurAmount(value);
  settings_->Write("blur_amount", value);
}

void MainWindow::OnFaceUndistortionAmountChanged(int value) {
  pipeline_->SetFaceUndistortionAmount(value);
  settings_->Write("face_undistortion_amount", value);
}

void MainWindow::OnGazeCorrectionAmountChanged(int value) {
  pipeline_->SetGazeCorrectionAmount(value);
  if (advanced_settings_) {
    advanced_settings_->gaze_rotate_face_slider->setValue(value);
    advanced_settings_->gaze_rotate_eyes_slider->setValue(value);
  }
  settings_->Write("gaze_correction_amount", value);
}

void MainWindow::SelectBackground() {
  const QString file = QFileDialog::getOpenFileName(this, "Select background image", QString(),
                                                    "Image Files (*.png *.jpg *.bmp)");
  if (file.isEmpty()) return;
  if (!pipeline_->SetBackground(file.toStdString())) {
    ReportError("Could not set background: " + file, ErrorText::kOutside, false);
    return;
  }
  settings_->Write("background_path", file);
  background_replacement_button_->setChecked(true);
}

void MainWindow::OnFaceTemplateScaleChanged(int width, int height) {
  settings_->Write("face_template_scale_width", width);
  settings_->Write("face_template_scale_height", height);
  pipeline_->SetFaceTemplateScale(width, height);
}

void MainWindow::OnFaceTemplateScaleReset() { OnFaceTemplateScaleChanged(100, 100); }

void MainWindow::ShowPreview(bool show) {
  if (welcome_widget_ != nullptr && !welcome_widget_->isHidden()) {
    preview_container_->setVisible(true);
    grid_layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    preview_enabled_ = true;
    video_preview_button_->setChecked(true);
    UpdateWindowFlags();
    return;
  }
  const int old_x = pos().x();
  const int old_width = frameGeometry().width();
  preview_container_->setVisible(show);
  grid_layout->setSizeConstraint(show ? QLayout::SetMinAndMaxSize : QLayout::SetFixedSize);
  preview_enabled_ = show;
  calib_button_->setEnabled(show);
  UpdateWindowFlags();
  if (ui_initialised_) {
    // The buttons stay under the mouse: the right edge keeps its place.
    grid_layout->activate();
    move(old_x + old_width - frameGeometry().width(), pos().y());
  }
}

void MainWindow::UpdateWindowFlags() {
  if (applied_preview_flags_ && *applied_preview_flags_ == preview_enabled_) return;
  Qt::WindowFlags flags = Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (preview_enabled_) flags |= Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
  setWindowFlags(flags);
  // Setting the flags hides the window.
  PutForeground();
  applied_preview_flags_ = std::make_unique<bool>(preview_enabled_);
}

void MainWindow::ShowCalibWidget() {
  if (calib_widget_->isVisible()) return;
  const QRect preview = preview_container_->geometry();
  const QPoint corner =
      mapToGlobal(QPoint(preview.x() + preview.width() - calib_widget_->width(), preview.y()));
  calib_widget_->move(corner);
  calib_widget_->adjustSize();
  calib_widget_->show();
}

void MainWindow::OnWelcomeClosed() {
  settings_->Write("show_welcome", !welcome_widget_->show_welcome_checkbox_->isChecked());
  welcome_widget_->hide();
}

void MainWindow::TellSettingsNotKept(const QString& file, const QString& reason) {
  auto* box = new QMessageBox(
      QMessageBox::Warning, "Warning",
      QString("Settings will not be kept: Vantisol cannot write %1 (%2). Your changes apply until "
              "Vantisol closes.")
          .arg(file, reason),
      QMessageBox::Ok, this);
  box->setTextFormat(Qt::PlainText);
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

bool MainWindow::ClientAttached() const {
  if (!plugin_interface_) return false;
  const Size size = plugin_interface_->requested_size();
  return size.width >= 1 && size.height >= 1;
}

void MainWindow::ReportFeatureState() {
  const int mode = pipeline_->background_mode();
  QVariantMap values;
  values["cd1"] = pipeline_->color_correction();
  values["cd2"] = pipeline_->automatic_camera();
  values["cd3"] = pipeline_->face_undistortion();
  values["cd4"] = mode == 1;
  values["cd5"] = mode == 2;
  values["cd6"] = pipeline_->gaze_correction();
  analytics_.sendAppView(ClientAttached() ? "Plugin" : "Standalone", values);
}

void MainWindow::ResetSegmentation() { pipeline_->ResetHistory(); }

void MainWindow::initializeGL() {
  LOG(INFO) << "Context is available...";
  QOpenGLFunctions* gl = context()->functions();
  auto read = [gl](GLenum name) {
    const GLubyte* text = gl->glGetString(name);
    return text ? QString::fromLatin1(reinterpret_cast<const char*>(text)) : QString();
  };
  const QString vendor = read(GL_VENDOR);
  const QString renderer = read(GL_RENDERER);
  const QString version = read(GL_VERSION);
  analytics_.sendEvent("Hardware Info", "Graphics Card Vendor", vendor);
  analytics_.sendEvent("Hardware Info", "Graphics Card Renderer", renderer);
  analytics_.sendEvent("Hardware Info", "Graphics Card Version", version);
  const QString combined = QString("%1: %2 (%3)").arg(vendor, renderer, version);
  analytics_.sendEvent("Hardware Info", "Graphics Card Combined", combined);
  graphics_card_text_ = QString("Graphics Card: %1").arg(combined);
  if (advanced_settings_)
    advanced_settings_->graphics_card_info_label->setText(graphics_card_text_);

  if (!IsGlVersionSufficient(ParseGlVersion(version))) {
    const QString message = "OpenGL 4.3 or higher required. Graphics Card: " + combined;
    LOG(ERROR) << message.toStdString();
    ReportError(message, ErrorText::kOutside, true);
    return;
  }
  pipeline_->SetSharedContext();
  context()->doneCurrent();
  try {
    pipeline_->InitializeOpenglContext();
  } catch (const std::exception& error) {
    ReportException(error);
  }
}

void MainWindow::paintGL() {
  QOpenGLFunctions* gl = context()->functions();
  gl->glClearColor(0.96f, 0.96f, 0.96f, 1.0f);
  gl->glClear(GL_COLOR_BUFFER_BIT);
}

void MainWindow::SetSize(QSize resolution) {
  LOG(INFO) << "StartPipeline, size:" << resolution.width() << "," << resolution.height();
  ReportFeatureState();
  analytics_.sendEvent("Camera", "Start with Resolution",
                       QString("%1x%2").arg(resolution.width()).arg(resolution.height()));
  try {
    letterbox_layout_->UpdateAspectRatio(resolution);
    pipeline_->RunWithSize(Size{resolution.width(), resolution.height()}, false);
  } catch (const std::exception& error) {
    ReportException(error);
  }
}

void MainWindow::ShowImage(std::shared_ptr<LockedTexture> image) {
  preview_->RenderTexture(std::move(image));
  if (advanced_settings_) {
    advanced_settings_->fps_label->setText(QString("FPS: %1").arg(pipeline_->fps(), 0, 'g', 6));
  }
}

void MainWindow::PutForeground() {
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  activateWindow();
  setWindowTitle(WindowTitle());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if ((event->modifiers() & Qt::AltModifier) && event->key() == Qt::Key_A) {
    if (advanced_settings_) advanced_settings_->show();
    event->accept();
  }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QOpenGLWidget::resizeEvent(event);
  if (welcome_widget_ != nullptr) welcome_widget_->FitToParent(this);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  LOG(INFO) << "closeEvent";
  event->ignore();
  if (ClientAttached()) {
    hide();
    ShowTrayMessage("Vantisol", "Vantisol is running in the background.");
  } else {
    Stop();
  }
}

void MainWindow::ShowTrayMessage(const QString& title, const QString& text) {
  // Also logged: a desktop without a tray host shows nothing.
  LOG(INFO) << "Tray message: " << text.toStdString();
  tray_icon_.showMessage(title, text, QSystemTrayIcon::Information, 10000);
}

void MainWindow::Stop() {
  hide();
  stopping_ = true;
  analytics_.sendEvent("Lifetime", "Stop");
  analytics_.endSession();
  analytics_.startSending();
  auto quit = [status = exit_status_] { QCoreApplication::exit(status); };
  connect(&analytics_, &GAnalytics::isSendingChanged, this, [quit](bool sending) {
    if (!sending) quit();
  });
  // Nothing left to send: no change will come.
  if (!analytics_.isSending()) QTimer::singleShot(0, qApp, quit);
  // A collection server that never finishes must not keep a hidden program alive.
  QTimer::singleShot(kQuitWaitMs, this, quit);
}

void MainWindow::DisplayError(QString message, bool fatal) {
  ReportError(message, ErrorText::kRich, fatal);
}

void MainWindow::ReportException(const std::exception& error) {
  const bool own = typeid(error) == typeid(std::runtime_error);
  ReportError(QString::fromStdString(error.what()), own ? ErrorText::kRich : ErrorText::kOutside,
              true);
}

void MainWindow::ReportError(const QString& message, ErrorText kind, bool fatal) {
  analytics_.sendException(message, fatal);
  if (!fatal) {
    QMessageBox box(QMessageBox::Critical, "Error", message, QMessageBox::Ok, this);
    if (kind == ErrorText::kOutside) box.setTextFormat(Qt::PlainText);
    box.exec();
    return;
  }
  LOG(ERROR) << "Critical Error: " << message.toStdString();
  // One box per program: an error that follows the first (the camera thread stopping as well,
  // say) only reaches analytics.
  if (stopping_) return;
  stopping_ = true;
  exit_status_ = 1;
  const QString rich = kind == ErrorText::kOutside ? message.toHtmlEscaped() : message;
  QMessageBox box(QMessageBox::Critical, "Critical Error", FatalText(rich), QMessageBox::Ok, this);
  box.setTextFormat(Qt::RichText);
  box.exec();
  Stop();
}

MainWindowStarter::MainWindowStarter() : settings_(std::make_shared<SettingsWriter>()) { Reset(); }

MainWindowStarter::~MainWindowStarter() = default;

void MainWindowStarter::Reset() {
  window_.reset();
  window_ = std::make_unique<MainWindow>(settings_);
  connect(window_.get(), &MainWindow::ResetPipeline, this, &MainWindowStarter::Reset,
          Qt::QueuedConnection);
  window_->show();
}

}  // namespace vantisol
