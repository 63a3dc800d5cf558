// The program's window with default settings at 1280x720 and a virtual-camera client in this
// process: frames per second in the preview and at the client, latency from capture (the camera's
// frame signal) to the client's copy, and resident memory.
//   bench_program [seconds]   (default 30)

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  pipeline->SetStageProbe([&](const char*, const vantisol::ImageData& frame) {
    std::lock_guard<std::mutex> lock(mutex);
    rendering = frame.color.time_stamp;
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
  QObject::connect(window.get(), &vantisol::MainWindow::ImageUpdated, window.get(),
                   [&previews] { ++previews; });

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
  window.reset();
  QDir(folder).removeRecursively();
  return 0;
}
