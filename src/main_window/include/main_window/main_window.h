#pragma once
// Qt's GL headers come in here: a file that includes this header must not include glbinding.

#include <QOpenGLWidget>
#include <QSize>
#include <QString>
#include <QSystemTrayIcon>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "analytics/ganalytics.h"
#include "ui_settings_widget.h"
#include "utils/latency_calculator.h"

class QAbstractButton;
class QSlider;

namespace vantisol {

class AdvancedSettingsWidget;
class CalibWidget;
class LetterboxLayout;
class LockedTexture;
class PluginInterface;
class SettingsWriter;
struct StoredSettings;
class TextureRenderWidget;
class UpdateCheck;
class VantisolPipeline;
class WatermarkRenderer;
class WelcomeWidget;

// Organisation, application name and version of the program.
void SetApplicationInfo();
// "Vantisol - 2.6.3 Alpha".
QString WindowTitle();

// The program's one window: owns the pipeline, the frame writer, the watermark step, analytics and
// the update check; builds the settings form and its panels; shows errors; keeps the tray icon.
class MainWindow : public QOpenGLWidget, public Ui::SettingsWidget {
  Q_OBJECT

 public:
  // `settings` writes the user's choices; a window made without one has its own.
  explicit MainWindow(std::shared_ptr<SettingsWriter> settings = nullptr);
  ~MainWindow() override;

  // Hides the window and ends the program once analytics has sent what it holds: with status 1
  // after a fatal error's box, 0 otherwise.
  void Stop();

  // Read by tests.
  VantisolPipeline* pipeline() const { return pipeline_.get(); }
  PluginInterface* plugin_interface() const { return plugin_interface_.get(); }
  AdvancedSettingsWidget* advanced_settings() const { return advanced_settings_.get(); }
  CalibWidget* calib_widget() const { return calib_widget_.get(); }
  WelcomeWidget* welcome_widget() const { return welcome_widget_; }
  TextureRenderWidget* preview() const { return preview_; }
  QWidget* preview_container() const { return preview_container_; }
  QSystemTrayIcon* tray_icon() { return &tray_icon_; }
  GAnalytics* analytics() { return &analytics_; }
  const QString& graphics_card_text() const { return graphics_card_text_; }
  bool preview_enabled() const { return preview_enabled_; }

 signals:
  void ImageUpdated(std::shared_ptr<LockedTexture> image);
  void FatalErrorSignal(QString message, bool fatal);
  void ResetPipeline();

 private slots:
  void ShowImage(std::shared_ptr<LockedTexture> image);
  void SetSize(QSize resolution);
  void DisplayError(QString message, bool fatal);
  void PutForeground();
  void ResetSegmentation();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void initializeGL() override;
  void paintGL() override;

 private:
  using Callback = std::function<void(bool)>;
  // The system's own messages are rich text (links, breaks); text from outside the program (a
  // driver's strings, a file path, a library's or the operating system's error) is shown as it
  // reads.
  enum class ErrorText { kRich, kOutside };

  // Analytics gets `message` as it is; the box shows it according to `kind`.
  void ReportError(const QString& message, ErrorText kind, bool fatal);
  // A fatal error from an exception: the program's own failures come as std::runtime_error with
  // rich text; any other type (PlainTextError among them) carries words from outside the program.
  void ReportException(const std::exception& error);

  void InitUi();
  void InitSettings(const StoredSettings& stored);
  void InitAdvancedSettings();
  void ConnectPipeline();
  void OnFrame(std::shared_ptr<LockedTexture> texture, LatencyCalculator latency);
  void OnPipelineError(std::string message);
  // A feature button: set to its stored value and applied, then toggles drive `callback`, analytics
  // and the key.
  void AddToggle(QAbstractButton* button, const QString& label, const QString& key, bool value,
                 Callback callback);
  void OnToggle(bool checked, const QString& label, const QString& key, const Callback& callback);
  // An amount slider: stored value applied as the slider shows it, then moves drive `apply` and
  // the key.
  void AddAmountSlider(QSlider* slider, const char* key, int value,
                       const std::function<void(int)>& apply);
  void OnBlurAmountChanged(int value);
  void OnFaceUndistortionAmountChanged(int value);
  void OnGazeCorrectionAmountChanged(int value);
  void SelectBackground();
  void OnFaceTemplateScaleChanged(int width, int height);
  void OnFaceTemplateScaleReset();
  void ShowPreview(bool show);
  void ShowCalibWidget();
  void OnWelcomeClosed();
  // Without a box that waits: the program goes on, only the choices are not kept.
  void TellSettingsNotKept(const QString& file, const QString& reason);
  void ReportFeatureState();
  void UpdateWindowFlags();
  void ShowTrayMessage(const QString& title, const QString& text);
  bool ClientAttached() const;

  QSystemTrayIcon tray_icon_;
  TextureRenderWidget* preview_ = nullptr;
  QWidget* preview_container_ = nullptr;
  std::unique_ptr<AdvancedSettingsWidget> advanced_settings_;
  std::unique_ptr<CalibWidget> calib_widget_;
  bool preview_enabled_ = false;
  std::unique_ptr<bool> applied_preview_flags_;
  LetterboxLayout* letterbox_layout_ = nullptr;
  QString graphics_card_text_;
  bool ui_initialised_ = false;
  WelcomeWidget* welcome_widget_ = nullptr;
  std::unique_ptr<VantisolPipeline> pipeline_;
  std::unique_ptr<PluginInterface> plugin_interface_;
  std::unique_ptr<WatermarkRenderer> watermark_renderer_;
  GAnalytics analytics_;
  std::unique_ptr<UpdateCheck> update_check_;
  std::shared_ptr<SettingsWriter> settings_;
  // A fatal box is open or the program is stopping: later fatal errors open no further box.
  bool stopping_ = false;
  // The program's exit status once stopped: 1 after a fatal error's box.
  int exit_status_ = 0;
};

// Owns the one main window and rebuilds it when the window asks for a pipeline reset.
class MainWindowStarter : public QObject {
  Q_OBJECT

 public:
  MainWindowStarter();
  ~MainWindowStarter() override;

  MainWindow* window() const { return window_.get(); }

 private slots:
  void Reset();

 private:
  // One for the program's run: a store that cannot be written is told once, not once per window.
  std::shared_ptr<SettingsWriter> settings_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace vantisol
