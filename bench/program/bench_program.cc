// The program's window with default settings at 1280x720 and a virtual-camera client in this
// process: frames per second in the preview and at the client, latency from capture (the camera's
// frame signal) to the client's copy, resident memory, and for each effect button the time from a
// click to the preview of the first frame made after it.
//   bench_program [seconds]   (default 30)

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "main_window/main_window.h"
#include "utils/shared_memory_image.h"
#include "vantisol_pipeline/vantisol_pipeline.h"

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void Pump(double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
  vantisol::SetApplicationInfo();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const QString folder = QDir::tempPath() + "/bench_program_" + QString::number(getpid());
  QDir().mkpath(folder + "/run");
  setenv("XDG_RUNTIME_DIR", (folder + "/run").toUtf8().constData(), 1);
  // Nothing listens on the discard port: analytics and the update check fail at once, locally.
  setenv("VANTISOL_ANALYTICS_URL", "http://127.0.0.1:9/collect", 1);
  setenv("VANTISOL_UPDATE_BASE_URL", "http://127.0.0.1:9/software", 1);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder + "/config");
  QSettings().setValue("show_welcome", false);
  QSettings().setValue("background_path", QCoreApplication::applicationDirPath() +
                                              "/../../src/vantisol_server/background.jpg");

  std::mutex mutex;
  std::map<int64_t, Clock::time_point> captured;  // colour time stamp -> capture time
  int64_t rendering = -1;
  std::atomic<int64_t> published_capture{0};  // ns since the clock's epoch
  std::atomic<int> outputs{0};
  int previews = 0;

  auto window = std::make_unique<vantisol::MainWindow>();
  window->show();
  vantisol::VantisolPipeline* pipeline = window->pipeline();
  {
    auto camera = pipeline->camera();
    if (!camera) {
      std::fprintf(stderr, "bench_program: no camera\n");
      return 1;
    }
    camera->frame_signal_.connect([&](std::shared_ptr<const vantisol::ImageData> frame) {
      std::lock_guard<std::mutex> lock(mutex);
      captured[frame->color.time_stamp] = Clock::now();
      while (captured.size() > 100) captured.erase(captured.begin());
    });
  }
  // Which click a frame came after: the probe's "start" runs on the render thread, under the
  // pipeline's lock, so a frame started after a click's setter returned carries its number.
  std::atomic<int> clicks{0};
  int rendering_click = 0;
  std::deque<int> emitted_clicks;  // per ImageUpdated not yet delivered to the GUI thread
  int shown_click = -1;
  Clock::time_point shown_at;
  pipeline->SetStageProbe([&](const char* stage, const vantisol::ImageData& frame) {
    std::lock_guard<std::mutex> lock(mutex);
    rendering = frame.color.time_stamp;
    if (std::strcmp(stage, "start") == 0) rendering_click = clicks;
  });
  // After the window's own subscriber, which has published the frame by then.
  pipeline->output_signal_.connect(
      [&](std::shared_ptr<vantisol::LockedTexture>, vantisol::LatencyCalculator) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = captured.find(rendering);
        if (found != captured.end()) {
          published_capture = found->second.time_since_epoch().count();
        }
        ++outputs;
      });
  QObject::connect(
      window.get(), &vantisol::MainWindow::ImageUpdated, window.get(),
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        emitted_clicks.push_back(rendering_click);
      },
      Qt::DirectConnection);
  // Queued like the window's own preview slot, and delivered after it, in emission order.
  QObject::connect(window.get(), &vantisol::MainWindow::ImageUpdated, window.get(), [&] {
    ++previews;
    std::lock_guard<std::mutex> lock(mutex);
    if (emitted_clicks.empty()) return;
    const int click = emitted_clicks.front();
    emitted_clicks.pop_front();
    if (click > shown_click) {
      shown_click = click;
      shown_at = Clock::now();
    }
  });

  std::atomic<bool> stop{false};
  std::atomic<bool> measuring{false};
  std::vector<double> latency_ms;  // the client thread's until it is joined
  std::atomic<int> received{0};
  std::thread client([&] {
    vantisol::SharedMemoryImage channel(true);
    channel.Lock().SetSize(1280, 720);
    std::vector<unsigned char> copy(1280 * 720 * 3);
    while (!stop) {
      {
        auto image = channel.Lock();
        if (image.new_frame() && image.data() != nullptr) {
          std::memcpy(copy.data(), image.data(), std::min<size_t>(copy.size(), image.Bytes()));
          image.set_new_frame(false);
          const int64_t capture = published_capture.load();
          if (capture > 0 && measuring) {
            latency_ms.push_back((Clock::now().time_since_epoch().count() - capture) / 1e6);
          }
          ++received;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  Pump(5.0);  // start-up and the client's size request settle
  const int outputs_before = outputs;
  const int previews_before = previews;
  const int received_before = received;
  measuring = true;
  const auto start = Clock::now();
  Pump(seconds);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  client.join();
  std::printf("outputs %.2f/s, preview %.2f/s, client %.2f/s over %.1f s\n",
              (outputs - outputs_before) / elapsed, (previews - previews_before) / elapsed,
              (received - received_before) / elapsed, elapsed);
  std::printf("capture to client copy ms: median %.1f p99 %.1f (n=%zu)\n",
              Percentile(latency_ms, 0.5), Percentile(latency_ms, 0.99), latency_ms.size());
  std::printf("resident memory %.1f MB\n", ResidentKilobytes() / 1024.0);

  // Each effect on, then off again: the slowest modes are the ones a user waits on.
  const std::pair<const char*, QAbstractButton*> buttons[] = {
      {"background blur", window->background_blur_button_},
      {"background replacement", window->background_replacement_button_},
      {"gaze correction", window->gaze_correction_button_},
      {"face undistortion", window->face_undistortion_button_},
      {"automatic camera", window->automatic_camera_button_},
      {"colour correction", window->color_correction_button_}};
  for (const auto& [name, button] : buttons) {
    std::vector<double> waits;
    for (int round = 0; round < 6; ++round) {
      Pump(0.7);
      const auto clicked = Clock::now();
      button->click();
      const int click = ++clicks;
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      bool shown = false;
      while (!shown && Clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::lock_guard<std::mutex> lock(mutex);
        shown = shown_click >= click;
      }
      std::lock_guard<std::mutex> lock(mutex);
      waits.push_back(shown ? std::chrono::duration<double, std::milli>(shown_at - clicked).count()
                            : 1e4);
    }
    std::printf("click to preview ms, %s on/off: median %.0f max %.0f\n", name,
                Percentile(waits, 0.5), *std::max_element(waits.begin(), waits.end()));
  }
  window.reset();
  QDir(folder).removeRecursively();
  return 0;
}
