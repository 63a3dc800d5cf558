// The main window in this process: settings and toggles against the pipeline, the store and
// analytics; the welcome overlay, the preview switch, calibration and the advanced panel's size
// handling. Cross-process behaviour is in program_test.cc.

#include "main_window/main_window.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "child_process.h"
#include "face_tracking/face_tracker.h"
#include "leak_check.h"
#include "main_window/advanced_settings_widget.h"
#include "main_window/calib_widget.h"
#include "main_window/gl_version.h"
#include "opengl_qt/texture_render_widget.h"
#include "plugin_interface/plugin_interface.h"
#include "program_test_support.h"
#include "release_borrower.h"
#include "test_folder.h"
#include "utils/sanitizers.h"
#include "utils/shared_memory_image.h"
#include "utils/signal.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "watchdog.h"
#include "widgets/welcome_widget.h"
#include "x11_windows.h"

namespace vantisol {
namespace {

using test::BoxCloser;
using test::Describe;
using test::Hits;
using test::HttpTestServer;

// The limits below are for a plain build; the sanitizer builds run the window and its pipeline
// several times slower. A wait ends as soon as its condition holds: the default leaves room for a
// busy machine.
bool WaitFor(const std::function<bool()>& condition, int limit_ms = 20000) {
  return test::WaitFor(condition, limit_ms * test::kTimeScale);
}

TEST(GlVersionTest, LeadingDigitsOfEachPartDecide) {
  struct Case {
    const char* text;
    int major, minor;
    bool sufficient;
  } cases[] = {
      {"4.5 (Core Profile) Mesa 22.3.6", 4, 5, true},
      {"4.3", 4, 3, true},
      {"4.10 NVIDIA 123.4", 4, 10, true},
      {"4.2.0 Build 10", 4, 2, false},
      {"3.3 (Compatibility Profile) Mesa", 3, 3, false},
      {"5.0", 5, 0, true},
      {"", 0, 0, false},
      {"OpenGL ES 3.2", 0, 2, false},
  };
  for (const Case& c : cases) {
    const GlVersion version = ParseGlVersion(c.text);
    EXPECT_EQ(version.major, c.major) << c.text;
    EXPECT_EQ(version.minor, c.minor) << c.text;
    EXPECT_EQ(IsGlVersionSufficient(version), c.sufficient) << c.text;
  }
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string run = folder_.str() + "/run";
    QDir().mkpath(QString::fromStdString(run));
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(folder_.str() + "/config"));
    setenv("VANTISOL_ANALYTICS_URL", server_.Url("/collect").toUtf8().constData(), 1);
    setenv("VANTISOL_UPDATE_BASE_URL", server_.Url("/software").toUtf8().constData(), 1);
    QSettings().setValue("background_path", VANTISOL_BACKGROUND);
  }

  void TearDown() override {
    Close();
    unsetenv("VANTISOL_REGISTRY");
    unsetenv("VANTISOL_CAMERA_SCENARIO");
  }

  // Runs the application's event loop until the program quits, for at most `limit_ms` (scaled as
  // the waits are); returns the exit code (2 when the limit ended it).
  static int RunUntilQuit(int limit_ms) {
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    limit.start(limit_ms * test::kTimeScale);
    return QApplication::exec();
  }

  // The window's GL set-up waits for the render thread's start-up hand-shake, and closing it for
  // the render thread's end, with no limit of their own.
  MainWindow* Start() {
    Close();
    window_ = std::make_unique<MainWindow>();
    // A post the program gives up on is sent again and reaches the server twice. On a busy
    // machine or under a sanitizer the GUI thread, which also runs this test's server, can stall
    // beyond the program's limit on a post (set before the event loop runs, the longer limit also
    // covers the post already under way).
    window_->analytics()->setPostTimeout(60000 * test::kTimeScale);
    test::Bounded(
        "the window's GL set-up (the render thread's start-up hand-shake)",
        [this] {
          window_->show();
          test::WaitFor([this] { return window_->isValid(); },
                        int(test::kStartLimit.count()) * 1000);
        },
        test::kStartLimit);
    return window_.get();
  }

  void Close() {
    test::Bounded("closing the window (the render thread's end)", [this] { window_.reset(); });
  }

  // The "Feature Toggle" events sent since the last call.
  // Waits up to `limit_ms` for a new hit: long enough for a slow sanitizer build where hits are
  // expected, short where the test expects none.
  QStringList NewToggleEvents(int limit_ms = 20000) {
    // Hits wait for the send tick; this sends them now.
    window_->analytics()->startSending();
    const size_t before = Hits(server_).size();
    WaitFor([&] { return !window_->analytics()->isSending() && Hits(server_).size() > before; },
            limit_ms);
    const auto hits = Hits(server_);
    QStringList events;
    for (size_t i = seen_hits_; i < hits.size(); ++i) {
      if (hits[i]["ec"] == "Feature Toggle") events << Describe(hits[i]);
    }
    seen_hits_ = hits.size();
    return events;
  }

  static QVariant Stored(const QString& key) { return QSettings().value(key); }

  test::TemporaryFolder folder_;
  HttpTestServer server_;
  std::unique_ptr<MainWindow> window_;
  size_t seen_hits_ = 0;
};

TEST_F(MainWindowTest, FreshStoreStartsWithTheDefaultsAndTheWelcome) {
  QSettings().remove("background_path");
  BoxCloser closer;  // the test binary's folder has no background picture
  MainWindow* window = Start();
  const VantisolPipeline::Settings settings = window->pipeline()->settings();
  EXPECT_TRUE(settings.color_correction);
  EXPECT_TRUE(settings.automatic_camera);
  EXPECT_EQ(settings.background_mode, 0);
  EXPECT_FALSE(settings.face_undistortion);
  EXPECT_FALSE(settings.gaze_correction);
  EXPECT_EQ(settings.blur_amount, 10);
  EXPECT_EQ(settings.face_undistortion_amount, 25);
  EXPECT_EQ(settings.gaze_correction_amount, 30);
  EXPECT_EQ(settings.face_template_scale_width, 100);
  EXPECT_TRUE(window->color_correction_button_->isChecked());
  EXPECT_TRUE(window->automatic_camera_button_->isChecked());
  EXPECT_TRUE(window->video_preview_button_->isChecked());
  EXPECT_FALSE(window->background_blur_button_->isChecked());
  EXPECT_FALSE(window->blur_slider_->isVisible());
  EXPECT_EQ(window->windowTitle(), "Vantisol - 2.6.3 Alpha");
  ASSERT_NE(window->welcome_widget(), nullptr);
  EXPECT_TRUE(window->welcome_widget()->isVisible());
  EXPECT_EQ(window->welcome_widget()->size(), window->size());
  // The default picture is looked for beside the program; it is absent here, so the error box
  // names the path, and the default is stored.
  const QString expected = QCoreApplication::applicationDirPath() + "/background.jpg";
  ASSERT_TRUE(WaitFor([&] { return !closer.boxes().isEmpty(); }, 20000));
  EXPECT_EQ(closer.boxes().value(0), "Error|Could not set background: " + expected);
  EXPECT_EQ(Stored("background_path").toString(), expected);
  EXPECT_TRUE(WaitFor([&] {
    return Describe(Hits(server_))
        .contains(
            "exception:Could not set "
            "background: " +
            expected + ":0");
  }));
  // Applying stored values sends no toggle events.
  EXPECT_TRUE(NewToggleEvents(3000).isEmpty());
}

TEST_F(MainWindowTest, BlurAndReplacementExcludeEachOtherAndPersist) {
  MainWindow* window = Start();
  VantisolPipeline* pipeline = window->pipeline();
  window->background_blur_button_->click();
  EXPECT_EQ(pipeline->background_mode(), 1);
  EXPECT_TRUE(window->blur_slider_->isVisible());
  EXPECT_TRUE(Stored("enable_background_blur").toBool());
  EXPECT_EQ(NewToggleEvents(), QStringList{"Feature Toggle/Background Blur/On"});

  window->background_replacement_button_->click();
  EXPECT_EQ(pipeline->background_mode(), 2);
  EXPECT_FALSE(window->background_blur_button_->isChecked());
  EXPECT_FALSE(Stored("enable_background_blur").toBool());
  EXPECT_TRUE(Stored("enable_background_replacement").toBool());
  EXPECT_EQ(NewToggleEvents(), (QStringList{"Feature Toggle/Background Blur/Off",
                                            "Feature Toggle/Background Replacement/On"}));

  // Each toggle is followed by the feature-state view.
  const auto hits = Hits(server_);
  ASSERT_FALSE(hits.empty());
  EXPECT_EQ(hits.back()["t"], "appview");
  EXPECT_EQ(hits.back()["cd"], "Standalone");
  EXPECT_EQ(hits.back()["cd4"], "false");
  EXPECT_EQ(hits.back()["cd5"], "true");

  window->background_replacement_button_->click();
  EXPECT_EQ(pipeline->background_mode(), 0);

  // The amounts and the other toggles: pipeline, key, event; and all of it after a restart.
  window->gaze_correction_button_->click();
  window->gaze_correction_slider_->setValue(44);
  window->blur_slider_->setValue(17);
  window->face_undistortion_button_->click();
  window->face_undistortion_slider_->setValue(33);
  window->color_correction_button_->click();
  window->automatic_camera_button_->click();
  EXPECT_EQ(
      NewToggleEvents(),
      (QStringList{"Feature Toggle/Background Replacement/Off", "Feature Toggle/Gaze Correction/On",
                   "Feature Toggle/Face Undistortion/On", "Feature Toggle/Color Correction/Off",
                   "Feature Toggle/Automatic Camera/Off"}));
  EXPECT_EQ(window->advanced_settings()->gaze_rotate_face_slider->value(), 44);
  EXPECT_EQ(window->advanced_settings()->gaze_rotate_eyes_slider->value(), 44);
  EXPECT_EQ(Stored("gaze_correction_amount").toInt(), 44);

  window = Start();
  pipeline = window->pipeline();
  const VantisolPipeline::Settings settings = pipeline->settings();
  EXPECT_TRUE(settings.gaze_correction);
  EXPECT_EQ(settings.gaze_correction_amount, 44);
  EXPECT_EQ(settings.blur_amount, 17);
  EXPECT_TRUE(settings.face_undistortion);
  EXPECT_EQ(settings.face_undistortion_amount, 33);
  EXPECT_FALSE(settings.color_correction);
  EXPECT_FALSE(settings.automatic_camera);
  EXPECT_EQ(settings.background_mode, 0);
  EXPECT_EQ(window->gaze_correction_slider_->value(), 44);
  EXPECT_TRUE(window->gaze_correction_slider_->isVisible());
  EXPECT_EQ(window->advanced_settings()->gaze_rotate_eyes_slider->value(), 44);
}

// Every rule that ties one control of the window to another, checked in each direction: the
// state before, one user action, and what must hold after it.
TEST_F(MainWindowTest, TiedControlsFollowInEachDirection) {
  QSettings().setValue("show_welcome", false);
  MainWindow* w = Start();
  VantisolPipeline* pipeline = w->pipeline();
  const auto on = [](QAbstractButton* button) {
    if (!button->isChecked()) button->click();
  };
  const auto off = [](QAbstractButton* button) {
    if (button->isChecked()) button->click();
  };
  struct Rule {
    const char* name;
    std::function<void()> before;
    std::function<void()> action;
    std::function<void()> after;
  };
  const Rule rules[] = {
      {"blur on switches replacement off", [&] { on(w->background_replacement_button_); },
       [&] { w->background_blur_button_->click(); },
       [&] {
         EXPECT_FALSE(w->background_replacement_button_->isChecked());
         EXPECT_FALSE(Stored("enable_background_replacement").toBool());
         EXPECT_TRUE(Stored("enable_background_blur").toBool());
         EXPECT_EQ(pipeline->background_mode(), 1);
         EXPECT_FALSE(w->background_replacement_settings_button->isVisible());
         EXPECT_TRUE(w->blur_slider_->isVisible());
       }},
      {"replacement on switches blur off", [&] { on(w->background_blur_button_); },
       [&] { w->background_replacement_button_->click(); },
       [&] {
         EXPECT_FALSE(w->background_blur_button_->isChecked());
         EXPECT_FALSE(Stored("enable_background_blur").toBool());
         EXPECT_TRUE(Stored("enable_background_replacement").toBool());
         EXPECT_EQ(pipeline->background_mode(), 2);
         EXPECT_FALSE(w->blur_slider_->isVisible());
         EXPECT_TRUE(w->background_replacement_settings_button->isVisible());
       }},
      {"blur off ends blur", [&] { on(w->background_blur_button_); },
       [&] { w->background_blur_button_->click(); },
       [&] {
         EXPECT_EQ(pipeline->background_mode(), 0);
         EXPECT_FALSE(w->blur_slider_->isVisible());
         EXPECT_FALSE(w->background_replacement_button_->isChecked());
       }},
      {"replacement off ends replacement", [&] { on(w->background_replacement_button_); },
       [&] { w->background_replacement_button_->click(); },
       [&] {
         EXPECT_EQ(pipeline->background_mode(), 0);
         EXPECT_FALSE(w->background_replacement_settings_button->isVisible());
         EXPECT_FALSE(w->background_blur_button_->isChecked());
       }},
      {"undistortion on shows its slider", [&] { off(w->face_undistortion_button_); },
       [&] { w->face_undistortion_button_->click(); },
       [&] { EXPECT_TRUE(w->face_undistortion_slider_->isVisible()); }},
      {"undistortion off hides its slider", [&] { on(w->face_undistortion_button_); },
       [&] { w->face_undistortion_button_->click(); },
       [&] { EXPECT_FALSE(w->face_undistortion_slider_->isVisible()); }},
      {"gaze on shows its slider", [&] { off(w->gaze_correction_button_); },
       [&] { w->gaze_correction_button_->click(); },
       [&] { EXPECT_TRUE(w->gaze_correction_slider_->isVisible()); }},
      {"gaze off hides its slider", [&] { on(w->gaze_correction_button_); },
       [&] { w->gaze_correction_button_->click(); },
       [&] { EXPECT_FALSE(w->gaze_correction_slider_->isVisible()); }},
      {"preview off disables calibration", [&] { on(w->video_preview_button_); },
       [&] { w->video_preview_button_->click(); },
       [&] { EXPECT_FALSE(w->calib_button_->isEnabled()); }},
      {"preview on enables calibration", [&] { off(w->video_preview_button_); },
       [&] { w->video_preview_button_->click(); },
       [&] { EXPECT_TRUE(w->calib_button_->isEnabled()); }},
      {"gaze amount up reaches both rotations", [&] { w->gaze_correction_slider_->setValue(10); },
       [&] { w->gaze_correction_slider_->setValue(50); },
       [&] {
         EXPECT_EQ(w->advanced_settings()->gaze_rotate_face_slider->value(), 50);
         EXPECT_EQ(w->advanced_settings()->gaze_rotate_eyes_slider->value(), 50);
       }},
      {"gaze amount down reaches both rotations", [&] { w->gaze_correction_slider_->setValue(50); },
       [&] { w->gaze_correction_slider_->setValue(10); },
       [&] {
         EXPECT_EQ(w->advanced_settings()->gaze_rotate_face_slider->value(), 10);
         EXPECT_EQ(w->advanced_settings()->gaze_rotate_eyes_slider->value(), 10);
       }},
  };
  for (const Rule& rule : rules) {
    SCOPED_TRACE(rule.name);
    rule.before();
    rule.action();
    QApplication::processEvents();
    rule.after();
  }
}

TEST_F(MainWindowTest, FollowersTakeTheirButtonsStoredStateAtStart) {
  QSettings().setValue("show_welcome", false);
  for (const bool stored : {true, false}) {
    SCOPED_TRACE(stored ? "stored on" : "stored off");
    QSettings().setValue("enable_background_blur", stored);
    QSettings().setValue("enable_background_replacement", false);
    QSettings().setValue("enable_face_undistortion", stored);
    QSettings().setValue("enable_gaze_correction", !stored);
    QSettings().setValue("enable_preview", stored);
    MainWindow* w = Start();
    EXPECT_EQ(w->blur_slider_->isVisible(), stored);
    EXPECT_FALSE(w->background_replacement_settings_button->isVisible());
    EXPECT_EQ(w->face_undistortion_slider_->isVisible(), stored);
    EXPECT_EQ(w->gaze_correction_slider_->isVisible(), !stored);
    EXPECT_EQ(w->calib_button_->isEnabled(), stored);
    QSettings().setValue("enable_background_blur", false);
    QSettings().setValue("enable_background_replacement", stored);
    w = Start();
    EXPECT_FALSE(w->blur_slider_->isVisible());
    EXPECT_EQ(w->background_replacement_settings_button->isVisible(), stored);
  }
}

TEST_F(MainWindowTest, StoredValuesAreReadWithQtsConversions) {
  // Every stored amount reaches the pipeline as its slider shows it.
  const struct {
    const char* key;
    QVariant stored;
    std::function<const QAbstractSlider*(MainWindow*)> slider;
    int PipelineSettings::*reached;
    int shown;
  } amounts[] = {
      {"blur_amount", 50, [](MainWindow* w) { return w->blur_slider_; },
       &PipelineSettings::blur_amount, 30},
      // Text that is no number reads as 0.
      {"face_undistortion_amount", "lots",
       [](MainWindow* w) { return w->face_undistortion_slider_; },
       &PipelineSettings::face_undistortion_amount, 0},
      {"gaze_correction_amount", 2147483647,
       [](MainWindow* w) { return w->gaze_correction_slider_; },
       &PipelineSettings::gaze_correction_amount, 60},
      {"face_template_scale_width", 500,
       [](MainWindow* w) { return w->calib_widget()->width_slider_; },
       &PipelineSettings::face_template_scale_width, 120},
      {"face_template_scale_height", -5,
       [](MainWindow* w) { return w->calib_widget()->height_slider_; },
       &PipelineSettings::face_template_scale_height, 80},
  };
  QSettings store;
  for (const auto& amount : amounts) store.setValue(amount.key, amount.stored);
  store.setValue("enable_background_blur", true);
  store.setValue("enable_background_replacement", true);
  store.setValue("enable_gaze_correction", "yes");
  store.setValue("enable_automatic_camera", "false");
  store.sync();
  test::LogRecorder log;
  MainWindow* window = Start();
  const VantisolPipeline::Settings settings = window->pipeline()->settings();
  // Replacement comes later at start-up and wins; blur's key is rewritten.
  EXPECT_EQ(settings.background_mode, 2);
  EXPECT_FALSE(window->background_blur_button_->isChecked());
  EXPECT_FALSE(Stored("enable_background_blur").toBool());
  for (const auto& amount : amounts) {
    SCOPED_TRACE(amount.key);
    EXPECT_EQ(amount.slider(window)->value(), amount.shown);
    EXPECT_EQ(settings.*amount.reached, amount.shown);
    const int stored = amount.stored.toInt();
    EXPECT_EQ(log.Count(QString("WARNING Stored %1 %2 limited to %3")
                            .arg(amount.key)
                            .arg(stored)
                            .arg(amount.shown)),
              stored == amount.shown ? 0 : 1);
  }
  // Text other than "", "0" and "false" reads as true.
  EXPECT_TRUE(settings.gaze_correction);
  EXPECT_FALSE(settings.automatic_camera);
  // The store is not repaired.
  EXPECT_EQ(Stored("enable_gaze_correction").toString(), "yes");
  EXPECT_EQ(Stored("blur_amount").toInt(), 50);
}

TEST_F(MainWindowTest, WelcomeKeepsThePreviewOnUntilDeclined) {
  QSettings().setValue("enable_preview", false);
  MainWindow* window = Start();
  ASSERT_NE(window->welcome_widget(), nullptr);
  EXPECT_TRUE(window->preview_enabled());
  EXPECT_TRUE(window->video_preview_button_->isChecked());
  EXPECT_TRUE(window->preview_container()->isVisible());
  window->resize(window->width() + 120, window->height() + 40);
  QApplication::processEvents();
  const WelcomeWidget* welcome = window->welcome_widget();
  EXPECT_EQ(welcome->size(), window->size());
  EXPECT_LE(
      std::abs(welcome->message_frame_->geometry().center().x() - window->rect().center().x()), 1);
  // OK with the box unchecked: shown again next time.
  welcome->ok_button_->pressed();
  EXPECT_TRUE(Stored("show_welcome").toBool());
  EXPECT_FALSE(welcome->isVisible());

  window = Start();
  ASSERT_NE(window->welcome_widget(), nullptr);
  window->welcome_widget()->show_welcome_checkbox_->setChecked(true);
  window->welcome_widget()->ok_button_->pressed();
  EXPECT_FALSE(Stored("show_welcome").toBool());

  // No overlay now, and the stored preview setting is honoured.
  window = Start();
  EXPECT_EQ(window->welcome_widget(), nullptr);
  EXPECT_FALSE(window->preview_enabled());
  EXPECT_FALSE(window->preview_container()->isVisible());
  EXPECT_FALSE(window->calib_button_->isEnabled());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainWindowTest, PreviewOffKeepsTheRightEdgeAndChangesTheFrameButtons) {
  QSettings().setValue("show_welcome", false);
  MainWindow* window = Start();
  ASSERT_TRUE(window->preview_enabled());
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  QApplication::processEvents();
  const int right = window->frameGeometry().right();
  const int width = window->frameGeometry().width();
  window->video_preview_button_->click();
  QApplication::processEvents();
  EXPECT_FALSE(window->preview_container()->isVisible());
  EXPECT_LT(window->frameGeometry().width(), width - 100);
  EXPECT_EQ(window->frameGeometry().right(), right);
  EXPECT_FALSE(window->calib_button_->isEnabled());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(Stored("enable_preview").toBool());
  EXPECT_EQ(NewToggleEvents(), QStringList{"Feature Toggle/Preview Video/Off"});
  window->video_preview_button_->click();
  QApplication::processEvents();
  EXPECT_TRUE(window->calib_button_->isEnabled());
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

// Whatever the order of the steps that make a frame, a borrower of the output texture that takes it
// the moment the render thread lets it go sees the frame with its watermark.
TEST_F(MainWindowTest, NoBorrowerOfTheOutputSeesAFrameWithoutItsWatermark) {
  QSettings().setValue("show_welcome", false);
  MainWindow* window = Start();
  // The output texture and the render thread, from the first frame. (The handler may run again
  // while this test ends: it holds what it uses.)
  using Published = std::pair<std::shared_ptr<LockedTexture>, std::thread::id>;
  auto published = std::make_shared<std::promise<Published>>();
  auto once = std::make_shared<std::once_flag>();
  std::future<Published> first_frame = published->get_future();
  utils::ScopedConnection first = window->pipeline()->output_signal_.connect(
      [published, once](std::shared_ptr<LockedTexture> texture, LatencyCalculator) {
        std::call_once(*once, [&] { published->set_value({texture, std::this_thread::get_id()}); });
      });
  ASSERT_EQ(first_frame.wait_for(test::kStartLimit), std::future_status::ready);
  const auto [output, render_thread] = first_frame.get();
  // How far each frame, as the borrower took it, is from the mark at its place.
  std::mutex mutex;
  std::vector<double> differences;
  auto borrower =
      std::make_unique<test::ReleaseBorrower>(*output, render_thread, [&](const Image& frame) {
        const QImage picture(frame.data.get(), frame.size.width, frame.size.height,
                             frame.size.width * 3, QImage::Format_RGB888);
        std::lock_guard<std::mutex> lock(mutex);
        differences.push_back(test::WatermarkDifference(picture, 0.0));
      });
  const bool enough = WaitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return differences.size() >= 30;
  });
  borrower.reset();
  ASSERT_TRUE(enough);
  std::lock_guard<std::mutex> lock(mutex);
  const int unmarked = int(std::count_if(differences.begin(), differences.end(),
                                         [](double difference) { return difference >= 40.0; }));
  EXPECT_EQ(unmarked, 0) << "of " << differences.size() << " frames";
}

TEST_F(MainWindowTest, CalibrationReachesTheFaceTrackerAndResets) {
  QSettings().setValue("face_template_scale_height", 95);
  MainWindow* window = Start();
  VantisolPipeline* pipeline = window->pipeline();
  EXPECT_EQ(pipeline->settings().face_template_scale_height, 95);
  CalibWidget* calib = window->calib_widget();
  EXPECT_EQ(calib->height_slider_->value(), 95);
  window->calib_button_->pressed();
  EXPECT_TRUE(calib->isVisible());
  const QPoint place = calib->pos();
  window->calib_button_->pressed();
  EXPECT_EQ(calib->pos(), place);

  calib->width_slider_->setValue(110);
  EXPECT_EQ(Stored("face_template_scale_width").toInt(), 110);
  EXPECT_EQ(Stored("face_template_scale_height").toInt(), 95);
  auto scale = [pipeline] {
    auto tracker = pipeline->face_tracker();
    return tracker ? tracker->base_template_->scale_ : std::array<float, 3>{0, 0, 0};
  };
  EXPECT_FLOAT_EQ(scale()[0], 1.10f);
  EXPECT_FLOAT_EQ(scale()[1], 0.95f);

  calib->reset_button_->pressed();
  EXPECT_EQ(calib->width_slider_->value(), 100);
  EXPECT_EQ(calib->height_slider_->value(), 100);
  EXPECT_EQ(Stored("face_template_scale_width").toInt(), 100);
  EXPECT_EQ(Stored("face_template_scale_height").toInt(), 100);
  EXPECT_FLOAT_EQ(scale()[0], 1.0f);
  EXPECT_FLOAT_EQ(scale()[1], 1.0f);
  calib->ok_button_->pressed();
  EXPECT_FALSE(calib->isVisible());
}

TEST_F(MainWindowTest, AnUnwritableStoreIsToldOnceAndTheProgramGoesOn) {
  QSettings().setValue("show_welcome", false);
  MainWindowStarter starter;
  MainWindow* window = starter.window();
  // The store's folder would lie under a regular file: nobody can create it, root included.
  const QString blocker = QString::fromStdString(folder_.str()) + "/blocker";
  ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker + "/config");
  const QString file = blocker + "/config/Vantisol/Vantisol.conf";
  const auto boxes = [] {
    QList<QMessageBox*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box != nullptr && box->isVisible()) shown << box;
    }
    return shown;
  };
  test::LogRecorder log;
  BoxCloser closer;  // the rebuilt window finds no stored picture
  window->gaze_correction_button_->click();
  window->gaze_correction_slider_->setValue(12);
  EXPECT_TRUE(window->pipeline()->gaze_correction());
  EXPECT_EQ(window->pipeline()->settings().gaze_correction_amount, 12);
  EXPECT_EQ(log.Count("WARNING Settings cannot be written to " + file + ": Not a directory"), 1);
  ASSERT_EQ(boxes().size(), 1);
  EXPECT_FALSE(boxes()[0]->isModal());
  EXPECT_EQ(boxes()[0]->text(),
            "Settings will not be kept: Vantisol cannot write " + file +
                " (Not a directory). Your changes apply until Vantisol closes.");

  // A rebuilt window belongs to the same run: nothing is said again.
  QPointer<MainWindow> first = window;
  window->advanced_settings()->reset_pipeline_button->pressed();
  ASSERT_TRUE(WaitFor([&] { return first.isNull() && starter.window() != nullptr; }));
  starter.window()->gaze_correction_button_->click();
  EXPECT_TRUE(boxes().isEmpty());
  EXPECT_EQ(log.Count("Settings cannot be written"), 1);
}

TEST_F(MainWindowTest, AltAShowsTheAdvancedPanel) {
  MainWindow* window = Start();
  QKeyEvent plain(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(window, &plain);
  EXPECT_FALSE(window->advanced_settings()->isVisible());
  QKeyEvent with_alt(QEvent::KeyPress, Qt::Key_A, Qt::AltModifier, "a");
  QApplication::sendEvent(window, &with_alt);
  EXPECT_TRUE(with_alt.isAccepted());
  EXPECT_TRUE(window->advanced_settings()->isVisible());
  EXPECT_TRUE(
      window->advanced_settings()->graphics_card_info_label->text().startsWith("Graphics Card: "));
  // The frame-rate label follows the pipeline once frames arrive.
  EXPECT_TRUE(WaitFor(
      [&] { return window->advanced_settings()->fps_label->text().startsWith("FPS: "); }, 20000));
}

// The window's set-up, without its threads under test: the thread sanitizer's run leaves it out.
class AdvancedPanelTest : public MainWindowTest {};

// Run by the test below on a display of its own with a window manager: the panel as Alt+A opens it
// fits the free part of the screen with the frame around it and shows every line, when it first
// opens, when it opens again, and when it opens again after it was moved down.
TEST_F(AdvancedPanelTest, DISABLED_OnAFramedScreen) {
  test::X11Windows x11;
  QSettings().setValue("show_welcome", false);
  MainWindow* window = Start();
  // The user sees the main window before pressing Alt+A.
  ASSERT_TRUE(WaitFor([&] { return x11.Frame(window->winId()) != x11.Geometry(window->winId()); }))
      << "no window manager framed the main window";
  AdvancedSettingsWidget* panel = window->advanced_settings();
  QScrollArea* area = panel->scroll_area;
  QScrollBar* down = area->verticalScrollBar();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // The panel on the screen as the X server has it, scrolled to the end.
  struct Look {
    QRect frame, panel, view, last_line, scroll_bar;
    int sideways, downwards;
    std::string Text() const {
      std::string text = "sideways " + std::to_string(sideways);
      for (const auto& [name, rect] : {std::pair{" frame ", frame},
                                       {" panel ", panel},
                                       {" view ", view},
                                       {" last line ", last_line}}) {
        text += name + std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " +
                std::to_string(rect.width()) + "x" + std::to_string(rect.height());
      }
      return text;
    }
  };
  auto look = [&] {
    down->setValue(down->maximum());
    const QRect client = x11.Geometry(panel->winId());
    auto at = [&](const QWidget* part) {
      return QRect(client.topLeft() + part->mapTo(panel, QPoint()), part->size());
    };
    return Look{x11.Frame(panel->winId()),
                client,
                at(area->viewport()),
                at(panel->graphics_card_info_label),
                down->isVisible() ? at(down) : QRect(),
                area->horizontalScrollBar()->maximum(),
                down->maximum()};
  };
  // Framed, on the screen, nothing cut sideways, as tall as the content or the screen, and every
  // line and the scroll bar in sight.
  auto fits = [&](const Look& seen) {
    return seen.frame != seen.panel && screen.contains(seen.frame) && seen.sideways == 0 &&
           (seen.downwards == 0 || seen.frame.height() == screen.height()) &&
           seen.view.contains(seen.last_line) && screen.contains(seen.view) &&
           (seen.scroll_bar.isNull() || screen.contains(seen.scroll_bar));
  };
  for (const char* opening : {"first", "again", "again after a move"}) {
    x11.PressKey(window->winId(), "a", true);
    Look seen{};
    WaitFor(
        [&] {
          seen = look();
          return panel->isVisible() && fits(seen);
        },
        10000);
    EXPECT_TRUE(fits(seen)) << opening << " opening on " << screen.width() << "x" << screen.height()
                            << ": " << seen.Text();
    if (std::string(opening) == "again") {
      panel->move(panel->x(), screen.height() / 2);
      WaitFor([&] { return x11.Frame(panel->winId()).y() == screen.height() / 2; });
    }
    // Closed from its frame.
    x11.Close(panel->winId());
    ASSERT_TRUE(WaitFor([&] { return !panel->isVisible(); }));
  }
}

TEST_F(AdvancedPanelTest, FitsTheScreenWithTheWindowManagersFrame) {
  ASSERT_EQ(access("/usr/bin/openbox", X_OK), 0) << "no window manager: scripts/setup installs it";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const char* size : {"1366x768", "1600x1000"}) {
    SCOPED_TRACE(size);
    test::ChildProcess server({"/bin/sh", "-c",
                               "exec Xvfb -displayfd 1 -nolisten tcp -noreset -screen 0 \"$0\" "
                               "2>/dev/null",
                               std::string(size) + "x24"});
    const std::string display = server.ReadLine();
    ASSERT_FALSE(display.empty()) << server.output();
    const std::string on_display = "DISPLAY=:" + display;
    // Ready once it has started up: a window it has not yet taken over would stay unframed.
    test::ChildProcess manager(
        {"/bin/sh", "-c",
         "exec env \"$0\" openbox --sm-disable --startup \"echo ready\" 2>/dev/null", on_display});
    ASSERT_TRUE(manager.WaitFor("ready")) << manager.output();
    test::ChildProcess panel({"/bin/sh", "-c",
                              "exec env \"$0\" \"$1\" --gtest_also_run_disabled_tests "
                              "--gtest_filter=AdvancedPanelTest.DISABLED_OnAFramedScreen 2>&1",
                              on_display, self},
                             test::kStartLimit);
    const int code = panel.Finish();
    EXPECT_EQ(code, 0) << panel.output();
    EXPECT_NE(panel.output().find("[  PASSED  ] 1 test."), std::string::npos) << panel.output();
  }
}

TEST_F(MainWindowTest, ClosingWithAClientHidesInTheTrayAndTheIconBringsItBack) {
  test::LogRecorder log;
  MainWindow* window = Start();
  auto client = std::make_unique<SharedMemoryImage>(true);
  client->Lock().SetSize(1280, 720);
  ASSERT_TRUE(
      WaitFor([&] { return window->plugin_interface()->requested_size().width == 1280; }, 20000));
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(log.Contains("Tray message: Vantisol is running in the background."));
  // No tray host here: the test activates the icon as a click would.
  emit window->tray_icon()->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Vantisol - 2.6.3 Alpha");
  // The client leaving while the window is visible keeps the program running.
  client.reset();
  ASSERT_TRUE(WaitFor([&] { return window->plugin_interface()->requested_size().width < 1; }));
  test::Settle(200);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, ResolutionFollowsTheClientAndTheUser) {
  MainWindow* window = Start();
  AdvancedSettingsWidget* panel = window->advanced_settings();
  QStringList items;
  for (int i = 0; i < panel->resolutions_combo_box->count(); ++i) {
    items << panel->resolutions_combo_box->itemText(i);
  }
  EXPECT_EQ(items,
            (QStringList{"640x480", "960x720", "640x360", "960x540", "1024x675", "1280x720"}));
  EXPECT_EQ(panel->resolutions_combo_box->currentText(), "1280x720");
  auto started = [this, window] {
    window->analytics()->startSending();
    QStringList sizes;
    for (const auto& hit : Hits(server_)) {
      if (hit["ea"] == "Start with Resolution") sizes << hit["el"];
    }
    return sizes;
  };
  ASSERT_TRUE(WaitFor([&] { return started() == QStringList{"1280x720"}; }));

  panel->resolutions_combo_box->setCurrentText("640x360");
  EXPECT_TRUE(WaitFor([&] { return started() == (QStringList{"1280x720", "640x360"}); }));
  EXPECT_EQ(panel->resolution().width, 640);

  // A client's size selects its entry and locks the choice; leaving unlocks it.
  auto client = std::make_unique<SharedMemoryImage>(true);
  client->Lock().SetSize(960, 540);
  ASSERT_TRUE(WaitFor([&] { return !panel->resolutions_combo_box->isEnabled(); }));
  EXPECT_EQ(panel->resolutions_combo_box->currentText(), "960x540");
  EXPECT_TRUE(WaitFor([&] { return started().endsWith("960x540"); }));
  window->analytics()->startSending();
  WaitFor([&] { return !window->analytics()->isSending(); });
  const auto hits = Hits(server_);
  EXPECT_TRUE(std::any_of(hits.begin(), hits.end(),
                          [](const test::Hit& hit) { return hit["cd"] == "Plugin"; }));
  client->Lock().SetSize(800, 600);
  ASSERT_TRUE(WaitFor([&] { return window->plugin_interface()->requested_size().width == 800; }));
  test::Settle(200);
  EXPECT_FALSE(panel->resolutions_combo_box->isEnabled());
  EXPECT_EQ(panel->resolutions_combo_box->currentText(), "960x540");
  client.reset();
  ASSERT_TRUE(WaitFor([&] { return panel->resolutions_combo_box->isEnabled(); }));
  EXPECT_EQ(panel->resolutions_combo_box->currentText(), "960x540");
  // The window is visible: a client leaving does not stop the program.
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, ResetRebuildsTheWindowFromTheStore) {
  QSettings().setValue("show_welcome", false);
  QSettings().setValue("enable_face_undistortion", true);
  MainWindowStarter starter;
  QPointer<MainWindow> first = starter.window();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(WaitFor(
      [&] { return first->advanced_settings()->fps_label->text().startsWith("FPS: "); }, 20000));
  first->advanced_settings()->reset_pipeline_button->pressed();
  ASSERT_TRUE(WaitFor([&] { return first.isNull(); }));
  MainWindow* second = starter.window();
  // The channel's single-instance guard was released by the old window.
  ASSERT_NE(second->plugin_interface(), nullptr);
  EXPECT_TRUE(second->pipeline()->face_undistortion());
  EXPECT_TRUE(second->isVisible());
}

TEST_F(MainWindowTest, FatalBoxShowsTheSystemsRichTextAsText) {
  QSettings().setValue("show_welcome", false);
  const QString folder = QString::fromStdString(folder_.str());
  QFile registry(folder + "/empty_registry.txt");
  ASSERT_TRUE(registry.open(QIODevice::WriteOnly));
  registry.close();
  const QString scenario = folder + "/<b>x</b>&<br>.json";
  const QString help = "https://vantisol.example/help";
  const struct {
    const char* variable;
    QString value;
    QString shown;  // the message as the box reads
    QStringList links;
  } cases[] = {
      // A store without the camera runtime: no camera is found.
      {"VANTISOL_REGISTRY",
       registry.fileName(),
       "Could not find any cameras. Make sure you have a compatible Intel Realsense Camera as well "
       "as the newest runtime installed.\n\nMore help on vantisol.example.",
       {"https://vantisol.example/cameras", "https://vantisol.example/runtime", help, help}},
      // The runtime refuses a scenario it cannot open; its name reads as markup.
      {"VANTISOL_CAMERA_SCENARIO",
       scenario,
       "CameraRealSense: Could not start the camera runtime: cannot open the scenario " + scenario +
           ": No such file or directory",
       {help}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variable);
    setenv(c.variable, c.value.toUtf8().constData(), 1);
    BoxCloser closer;
    Start();
    ASSERT_TRUE(WaitFor([&] { return !closer.shown().isEmpty(); }, 20000)) << "no box opened";
    ASSERT_TRUE(closer.boxes().value(0).startsWith("Critical Error|"));
    const test::ShownText shown = closer.shown().value(0);
    EXPECT_TRUE(
        shown.plain.contains(c.shown + ".\n\nPlease have a look at our support page for help."))
        << shown.plain.toStdString();
    for (const char* source : {"&lt;", "&amp;", "href"}) {
      EXPECT_FALSE(shown.plain.contains(source)) << source << " in " << shown.plain.toStdString();
    }
    EXPECT_EQ(shown.links, c.links);
    EXPECT_EQ(closer.shown().size(), 1);
    // Closing the box stops the program, which reports the failure.
    EXPECT_EQ(RunUntilQuit(30000), 1) << "the program did not end after the box";
    window_.reset();
    unsetenv(c.variable);
  }
}

TEST_F(MainWindowTest, ErrorBoxShowsAPathAsItReads) {
  QSettings().setValue("show_welcome", false);
  const QString path = QString::fromStdString(folder_.str()) + "/<b>absent</b> & <br>.jpg";
  QSettings().setValue("background_path", path);
  BoxCloser closer;
  Start();
  ASSERT_TRUE(WaitFor([&] { return !closer.shown().isEmpty(); }, 20000)) << "no box opened";
  EXPECT_EQ(closer.boxes().value(0), "Error|Could not set background: " + path);
  EXPECT_EQ(closer.shown().value(0).plain, "Could not set background: " + path);
  EXPECT_TRUE(closer.shown().value(0).links.isEmpty());
}

TEST_F(MainWindowTest, StoppingEndsWithinItsBoundWhileAPostHangs) {
  QSettings().setValue("show_welcome", false);
  MainWindow* window = Start();
  // The start-up hits go out first.
  ASSERT_TRUE(WaitFor(
      [&] {
        window->analytics()->startSending();
        return Describe(Hits(server_)).contains("Camera/Start with Resolution/1280x720") &&
               !window->analytics()->isSending();
      },
      20000))
      << "the start-up hits were not sent";
  test::HttpReply silent;
  silent.hold = true;
  server_.SetDefaultReply(silent);
  // Longer than the test waits: only the bound on stopping can end the program.
  window->analytics()->setPostTimeout(10 * 60 * 1000);
  const size_t before = Hits(server_).size();
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(RunUntilQuit(45000), 0) << "the program still waited for the held post";
  EXPECT_GT(Hits(server_).size(), before) << "the stop's post did not reach the server";
  EXPECT_TRUE(window->analytics()->isSending());
  window_.reset();
}

// The window's tests have a main of their own: a block that one of them leaks must fail the run.
TEST(WindowLeakCheckChild, DISABLED_Leaks) {
  int* volatile lost = new int[3];
  lost[0] = 1;
  lost = nullptr;
}

#if VANTISOL_ADDRESS_SANITIZER()
TEST(WindowLeakCheckTest, ABlockThatATestLeaksIsReported) {
  const auto run = test::RunWithLeakCheck("WindowLeakCheckChild.DISABLED_Leaks");
  EXPECT_NE(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("Direct leak of 12 byte(s)"), std::string::npos) << run.output;
}

// A running window has loaded all it loads late: the GL driver, Qt's plug-ins, the camera runtime.
TEST_F(MainWindowTest, NoLibrarysThreadDataWaitsForFirstUse) {
  MainWindow* window = Start();
  ASSERT_TRUE(WaitFor(
      [&] { return window->advanced_settings()->fps_label->text().startsWith("FPS: "); }, 20000))
      << "no frame arrived";
  const auto late = test::ThreadDataAllocatedOnFirstUse();
  EXPECT_TRUE(late.empty()) << "first one: " << late.front();
}
#endif

}  // namespace
}  // namespace vantisol
