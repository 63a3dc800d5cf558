// The program as separate processes under this X display: start-up reports and window, stopping
// while the collection server hangs, the single instance, a camera failure's one error box, the
// virtual camera's client starting and feeding on the program, the tray while a client is attached,
// a killed client that no longer keeps the program, and the exported GPU-preference values.

#include <elf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "program_test_support.h"
#include "test_folder.h"
#include "watchdog.h"
#include "x11_windows.h"

namespace vantisol {
namespace {

using test::Describe;
using test::Hits;
using test::HttpTestServer;
using test::WaitFor;
using test::X11Windows;

const QString kTitle = "Vantisol - 2.6.3 Alpha";
const char kProgram[] = VANTISOL_PROGRAM;
const char kClient[] = VCAM_CLIENT;

// Processes of this program binary that run with the given runtime folder (so: this test's).
std::vector<qint64> ProgramProcesses(const QString& runtime_folder) {
  std::vector<qint64> pids;
  const QString program = QFileInfo(kProgram).canonicalFilePath();
  for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
    bool number = false;
    const qint64 pid = entry.toLongLong(&number);
    if (!number) continue;
    if (QFileInfo("/proc/" + entry + "/exe").canonicalFilePath() != program) continue;
    QFile environment("/proc/" + entry + "/environ");
    if (!environment.open(QIODevice::ReadOnly)) continue;
    if (environment.readAll().split('\0').contains("XDG_RUNTIME_DIR=" + runtime_folder.toUtf8())) {
      pids.push_back(pid);
    }
  }
  return pids;
}

// What may include a program's start: a busy machine starts it many times slower than an idle one.
constexpr int kStartMs = static_cast<int>(test::kStartLimit.count()) * 1000;
// What a running program does at once when asked: on a busy machine its GUI thread may first
// finish a paint and wait for the frame in hand, each many times slower than on an idle one.
constexpr int kWaitMs = static_cast<int>(test::kWaitLimit.count()) * 1000;

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = QString::fromStdString(folder_.str());
    QDir().mkpath(root_ + "/run");
    QDir().mkpath(root_ + "/config/Vantisol");
    QDir().mkpath(root_ + "/client");
  }

  void TearDown() override {
    for (auto& process : processes_) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
      }
    }
    // A program that a client started is this test's child's child: ended by its id.
    for (const qint64 pid : ProgramProcesses(root_ + "/run"))
      ::kill(static_cast<pid_t>(pid), SIGKILL);
  }

  // The program's settings before it starts.
  void Store(const QString& key, const QVariant& value) {
    QSettings settings(root_ + "/config/Vantisol/Vantisol.conf", QSettings::IniFormat);
    settings.setValue(key, value);
  }

  QProcessEnvironment Environment(const QString& data_folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", root_ + "/run");
    environment.insert("XDG_CONFIG_HOME", root_ + "/config");
    environment.insert("XDG_DATA_HOME", root_ + "/" + data_folder);
    environment.insert("VANTISOL_ANALYTICS_URL", server_.Url("/collect"));
    environment.insert("VANTISOL_UPDATE_BASE_URL", server_.Url("/software"));
    for (auto entry = extra_environment_.begin(); entry != extra_environment_.end(); ++entry) {
      environment.insert(entry.key(), entry.value());
    }
    if (!scenario_.isEmpty()) {
      QFile file(root_ + "/scenario.json");
      file.open(QIODevice::WriteOnly);
      file.write(scenario_.toUtf8());
      environment.insert("VANTISOL_CAMERA_SCENARIO", file.fileName());
    }
    return environment;
  }

  QProcess* Launch(const QString& program, const QStringList& arguments,
                   const QString& data_folder) {
    processes_.push_back(std::make_unique<QProcess>());
    QProcess* process = processes_.back().get();
    process->setProcessEnvironment(Environment(data_folder));
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, arguments);
    EXPECT_TRUE(process->waitForStarted(kWaitMs)) << program.toStdString();
    return process;
  }

  QProcess* StartProgram(const QString& data_folder = "data") {
    return Launch(kProgram, {}, data_folder);
  }

  QString Log(const QString& data_folder = "data", const QString& name = "Vantisol") {
    QFile file(root_ + "/" + data_folder + "/Vantisol/logs/" + name + ".release.log");
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
  }

  // Events as "category/action/label" etc., in the order they arrived.
  QStringList Described() { return Describe(Hits(server_)); }

  bool WaitForHit(const QString& described, int timeout_ms = kStartMs) {
    return WaitFor([&] { return Described().contains(described); }, timeout_ms);
  }

  static bool WaitForExit(QProcess* process, int timeout_ms) {
    return WaitFor([process] { return process->state() == QProcess::NotRunning; }, timeout_ms);
  }

  test::TemporaryFolder folder_;
  QString root_;
  QString scenario_;
  QMap<QString, QString> extra_environment_;
  HttpTestServer server_;
  X11Windows windows_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(ProgramTest, StartUpReportsInOrderAndShowsTheWindow) {
  Store("show_welcome", false);
  QProcess* program = StartProgram();
  ASSERT_TRUE(WaitForHit("Camera/Start with Resolution/1280x720"))
      << Described().join("\n").toStdString();
  const auto hits = Hits(server_);
  QStringList order;
  for (const auto& hit : hits) {
    const QString text = Describe(hit);
    if (hit["ec"] == "Hardware Info") {
      order << hit["ec"] + "/" + hit["ea"];
    } else {
      order << text;
    }
  }
  const QStringList expected{"session:start",
                             "Lifetime/Start/",
                             "Hardware Info/Graphics Card Vendor",
                             "Hardware Info/Graphics Card Renderer",
                             "Hardware Info/Graphics Card Version",
                             "Hardware Info/Graphics Card Combined",
                             "appview:Standalone",
                             "Camera/Start with Resolution/1280x720"};
  ASSERT_GE(order.size(), expected.size());
  EXPECT_EQ(order.mid(0, expected.size()), expected) << order.join("\n").toStdString();
  // The GL strings of this machine's driver, and the combined text built from them.
  const QString vendor = hits[2]["el"];
  const QString renderer = hits[3]["el"];
  const QString version = hits[4]["el"];
  EXPECT_FALSE(vendor.isEmpty());
  EXPECT_TRUE(version.startsWith("4.")) << version.toStdString();
  EXPECT_EQ(hits[5]["el"], vendor + ": " + renderer + " (" + version + ")");
  EXPECT_EQ(hits[6]["cd1"], "true");
  EXPECT_EQ(hits[6]["cd2"], "true");
  for (const char* name : {"cd3", "cd4", "cd5", "cd6"}) EXPECT_EQ(hits[6][name], "false") << name;
  EXPECT_EQ(hits[0]["tid"], hits[1]["tid"]);

  ASSERT_TRUE(
      WaitFor([&] { return windows_.Find(kTitle, program->processId()).size() == 1; }, kStartMs));
  EXPECT_TRUE(Log().contains("StartPipeline, size:1280,720"));
  EXPECT_EQ(program->state(), QProcess::Running);

  // Without a client, closing the window ends the program once analytics has sent.
  windows_.Close(windows_.Find(kTitle, program->processId()).front());
  ASSERT_TRUE(WaitForExit(program, 20000)) << Log().right(2000).toStdString();
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 0);
  const QStringList described = Described();
  EXPECT_EQ(described.mid(described.size() - 2), (QStringList{"Lifetime/Stop/", "session:end"}));
  EXPECT_FALSE(Log().contains("Tray message"));
}

TEST_F(ProgramTest, StoppingEndsWhileTheCollectionServerHoldsAPost) {
  Store("show_welcome", false);
  // The server accepts every request and never answers.
  test::HttpReply silent;
  silent.hold = true;
  server_.SetDefaultReply(silent);
  QProcess* program = StartProgram();
  ASSERT_TRUE(
      WaitFor([&] { return windows_.Find(kTitle, program->processId()).size() == 1; }, kStartMs))
      << "no window";
  ASSERT_TRUE(WaitFor([&] { return !Hits(server_).empty(); }, kStartMs)) << "no post arrived";
  windows_.Close(windows_.Find(kTitle, program->processId()).front());
  ASSERT_TRUE(WaitForExit(program, 30000)) << "the program did not end while its post was held\n"
                                           << Log().right(2000).toStdString();
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 0);
}

TEST_F(ProgramTest, SecondInstanceShowsOneBoxAndLeavesTheFirstRunning) {
  Store("show_welcome", false);
  QProcess* first = StartProgram("first");
  ASSERT_TRUE(WaitFor([&] { return Log("first").contains("StartPipeline"); }, kStartMs));
  // Another producer is told whose the frame channel is.
  QProcess* tool = Launch(PIPELINE_RUN, {"--frames", "1"}, "tool");
  ASSERT_TRUE(WaitForExit(tool, kStartMs));
  EXPECT_TRUE(tool->readAll().contains(
      "error: the program Vantisol is running (Already a server running!)"));
  QProcess* second = StartProgram("second");
  ASSERT_TRUE(WaitFor(
      [&] { return windows_.Find("Critical Error", second->processId()).size() == 1; }, kStartMs));
  const QString message = "Vantisol is already running, cannot start a second instance...";
  ASSERT_TRUE(WaitForHit("exception:" + message + ":1"));
  EXPECT_TRUE(Log("second").contains(message));
  EXPECT_FALSE(Log("second").contains("StartPipeline"));
  windows_.Close(windows_.Find("Critical Error", second->processId()).front());
  ASSERT_TRUE(WaitForExit(second, 20000)) << "the second instance did not end";
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 1);
  EXPECT_TRUE(Described().contains("Lifetime/Stop/"));
  EXPECT_TRUE(Described().contains("session:end"));
  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_EQ(windows_.Find(kTitle, first->processId()).size(), 1u);

  // A crashed first instance leaves nothing that blocks the next start.
  first->kill();
  ASSERT_TRUE(WaitForExit(first, 10000));
  QProcess* third = StartProgram("third");
  ASSERT_TRUE(WaitFor([&] { return Log("third").contains("StartPipeline"); }, kStartMs));
  test::Settle(1000);
  EXPECT_TRUE(windows_.Find("Critical Error", third->processId()).empty());
  EXPECT_EQ(third->state(), QProcess::Running);
}

TEST_F(ProgramTest, CameraFailureGivesOneCriticalBoxAndEnds) {
  Store("show_welcome", false);
  const QString unusable =
      "CameraRealSense: Could not start the camera runtime: invalid JSON in the scenario " + root_ +
      "/scenario.json";
  const struct {
    QString scenario;
    QString error;
  } cases[] = {
      // The simulated camera fails to deliver after 45 frames.
      {R"({"frames": 45})", "Camera Error"},
      // A scenario that cannot be used is a camera that cannot start.
      {R"({"frames": )", unusable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario.toStdString());
    scenario_ = c.scenario;
    const QString data = "data" + QString::number(&c - cases);
    QProcess* program = StartProgram(data);
    const qint64 pid = program->processId();
    ASSERT_TRUE(
        WaitFor([&] { return windows_.Find("Critical Error", pid).size() == 1; }, kStartMs));
    test::Settle(1500);
    EXPECT_EQ(windows_.Find("Critical Error", pid).size(), 1u);
    windows_.Close(windows_.Find("Critical Error", pid).front());
    // The hits go out with the stop, after the box.
    const QString hit = "exception:" + c.error + ":1";
    ASSERT_TRUE(WaitForHit(hit));
    ASSERT_TRUE(WaitForExit(program, 20000)) << "the program did not end after the box";
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 1);
    const QStringList described = Described();
    EXPECT_EQ(described.count(hit), 1);
    EXPECT_GT(described.lastIndexOf("Lifetime/Stop/"), described.indexOf(hit));
    EXPECT_GT(described.lastIndexOf("session:end"), described.lastIndexOf("Lifetime/Stop/"));
    EXPECT_TRUE(Log(data).contains("Critical Error: " + c.error));
  }
}

TEST_F(ProgramTest, OpenGlBelow43IsRefusedWithoutStartingTheRenderThread) {
  Store("show_welcome", false);
  // The driver reports 4.2 for the same context.
  extra_environment_["MESA_GL_VERSION_OVERRIDE"] = "4.2";
  QProcess* program = StartProgram();
  const qint64 pid = program->processId();
  ASSERT_TRUE(WaitFor([&] { return windows_.Find("Critical Error", pid).size() == 1; }, kStartMs));
  windows_.Close(windows_.Find("Critical Error", pid).front());
  ASSERT_TRUE(WaitForExit(program, 20000)) << Log().right(2000).toStdString();
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 1);
  QString combined;
  QString exception;
  for (const auto& hit : Hits(server_)) {
    if (hit["ea"] == "Graphics Card Combined") combined = hit["el"];
    if (hit["t"] == "exception") exception = hit["exd"];
  }
  EXPECT_TRUE(combined.contains("(4.2 ")) << Described().join('\n').toStdString();
  EXPECT_EQ(exception, "OpenGL 4.3 or higher required. Graphics Card: " + combined);
  EXPECT_TRUE(Log().contains("ERROR OpenGL 4.3 or higher required."));
  EXPECT_FALSE(Log().contains("ThreadLoop"));
}

// Mean absolute difference of two pictures over a coarse grid (both scaled to it).
double CoarseDifference(const QImage& a, const QImage& b) {
  const QSize grid(32, 18);
  const QImage sa = a.scaled(grid, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_RGB32);
  const QImage sb = b.scaled(grid, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_RGB32);
  double sum = 0;
  for (int y = 0; y < grid.height(); ++y) {
    for (int x = 0; x < grid.width(); ++x) {
      const QRgb p = sa.pixel(x, y);
      const QRgb q = sb.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
    }
  }
  return sum / (3.0 * grid.width() * grid.height());
}

// The samples a client started with --recent held a moment ago, asked for now and written into
// `folder`, and the one closest to `picture`; a null picture when none came.
QImage ClosestRecentSample(QProcess* client, const QString& folder, const QImage& picture) {
  QDir dir(folder);
  for (const QString& name : dir.entryList({"recent*"}, QDir::Files)) dir.remove(name);
  ::kill(pid_t(client->processId()), SIGUSR1);
  if (!WaitFor([&] { return dir.exists("recent.done"); }, 30000)) {
    ADD_FAILURE() << "the client did not write its recent samples within 30 s";
    return QImage();
  }
  QImage closest;
  double best = 1e9;
  for (const QString& name : dir.entryList({"recent_*.ppm"}, QDir::Files, QDir::Name)) {
    const QImage sample(folder + "/" + name);
    const double difference = CoarseDifference(picture, sample);
    if (difference < best) best = difference, closest = sample;
  }
  return closest;
}

// The preview's picture inside the window: what is not the window's #f5f5f5 background, left of
// the buttons' column.
QRect PreviewArea(const QImage& window) {
  QRect area;
  const int buttons = window.width() - 150;
  for (int y = 0; y < window.height(); ++y) {
    for (int x = 0; x < buttons; ++x) {
      const QRgb p = window.pixel(x, y);
      if (std::abs(qRed(p) - 245) + std::abs(qGreen(p) - 245) + std::abs(qBlue(p) - 245) > 12) {
        area |= QRect(x, y, 1, 1);
      }
    }
  }
  return area;
}

struct ClientRun {
  int exit_code = -1;
  QString output;
  QStringList frames;  // saved PNG files, in order
};

TEST_F(ProgramTest, ClientStartsTheProgramAndReceivesItsFrames) {
  Store("show_welcome", false);
  const QString program_folder = QFileInfo(kProgram).absolutePath();
  auto run_client = [&](const QString& size, int seconds, const QString& out,
                        const QStringList& more = {}) {
    QDir().mkpath(out);
    QProcess* client = Launch(kClient,
                              QStringList{"--size", size, "--seconds", QString::number(seconds),
                                          "--every", "10", "--out", out, "--dir", program_folder} +
                                  more,
                              "data");
    return client;
  };
  auto finish = [](QProcess* client, const QString& out) {
    ClientRun run;
    EXPECT_TRUE(WaitForExit(client, 90000));
    run.exit_code = client->exitCode();
    run.output = QString::fromUtf8(client->readAll());
    for (const QString& name : QDir(out).entryList({"frame_*.png"}, QDir::Files, QDir::Name)) {
      run.frames << out + "/" + name;
    }
    return run;
  };
  // Samples per second and new pictures: the client's report and the saved frames.
  auto distinct_frames = [](const QStringList& files) {
    int distinct = 0;
    QImage previous;
    for (const QString& file : files) {
      const QImage image(file);
      if (image != previous) ++distinct;
      previous = image;
    }
    return distinct;
  };

  // No program runs: the client starts it, and gets 640x360 pictures once it is up.
  const QString small = root_ + "/small";
  ClientRun first = finish(run_client("640x360", 20, small), small);
  ASSERT_EQ(first.exit_code, 0) << first.output.toStdString();
  ASSERT_TRUE(Log().contains("StartPipeline, size:640,360")) << Log().right(3000).toStdString();
  // Every tenth new picture is saved; a few are enough, since under the sanitizers the program
  // renders only a few pictures a second.
  ASSERT_GE(first.frames.size(), 4) << first.output.toStdString();
  const QImage last_small(first.frames.back());
  EXPECT_EQ(last_small.size(), QSize(640, 360));
  const double on_mark = test::WatermarkDifference(last_small, 0.0);
  const double off_mark = test::WatermarkDifference(last_small, 0.45);
  std::printf("watermark difference: at its place %.1f, beside it %.1f\n", on_mark, off_mark);
  EXPECT_LT(on_mark, 40.0);
  EXPECT_GT(off_mark, on_mark * 2);
  // The pictures go on changing. (The client samples at its own pace: on a loaded machine the
  // render thread may fall behind it, so some saved samples repeat a picture.)
  EXPECT_GE(distinct_frames(first.frames), 3);
  ASSERT_EQ(ProgramProcesses(root_ + "/run").size(), 1u);
  // The window is shown, so the client leaving does not end the program.
  test::Settle(1500);
  EXPECT_EQ(ProgramProcesses(root_ + "/run").size(), 1u);

  // A second client at 1280x720 while the program runs; the window is closed meanwhile.
  const QString large = root_ + "/large";
  // It keeps its last samples (two seconds' worth), to be compared with the preview.
  // It reads until it has seen enough after the window is closed (the limit is only a bound).
  QProcess* client = run_client("1280x720", 300, large, {"--recent", "60"});
  ASSERT_TRUE(WaitFor([&] { return Log().contains("StartPipeline, size:1280,720"); }, kStartMs));
  const qint64 pid = ProgramProcesses(root_ + "/run").front();
  ASSERT_TRUE(WaitFor([&] { return windows_.Find(kTitle, pid).size() == 1; }, kStartMs));
  test::Settle(4000);
  // The preview shows what the client receives: the frame on the screen is among the client's
  // samples of the moment before, which it writes when asked right after the grab. (The last
  // picture it saved on its own, every tenth sample, is another frame on a busy machine.)
  const unsigned long window = windows_.Find(kTitle, pid).front();
  // Another test's window may cover it, and once raised it shows that window's pixels until the
  // program has repainted; the screen may also be a frame ahead of the client. So it is raised and
  // looked at again until the preview matches, for as long as the program may take to repaint.
  double same = 1e9;
  double mirrored = 0;
  double background = 0;
  QSize preview_size;
  auto covered = [&] {
    return preview_size.isEmpty() ||
           std::abs(double(preview_size.width()) / preview_size.height() - 16.0 / 9.0) > 0.05;
  };
  auto matches = [&] {
    return !covered() && same < 12.0 && mirrored > same * 2 && background > same * 2;
  };
  for (QDeadlineTimer limit(kWaitMs); !matches() && !limit.hasExpired();) {
    windows_.Raise(window);
    test::Settle(300);
    const QImage screen = windows_.Grab(windows_.Geometry(window));
    const QRect area = PreviewArea(screen);
    preview_size = area.size();
    if (covered()) continue;
    const QImage preview = screen.copy(area);
    const QImage client_frame = ClosestRecentSample(client, large, preview);
    ASSERT_FALSE(client_frame.isNull());
    EXPECT_EQ(client_frame.size(), QSize(1280, 720));
    if (const char* folder = getenv("VANTISOL_SCREENSHOT_DIR")) {
      screen.save(QString(folder) + "/program_window.png");
      client_frame.save(QString(folder) + "/program_client_frame.png");
    }
    same = CoarseDifference(preview, client_frame);
    mirrored = CoarseDifference(preview, client_frame.mirrored(true, false));
    background = CoarseDifference(preview, QImage(program_folder + "/background.jpg"));
  }
  std::printf("preview against the client's frame: %.1f, mirrored: %.1f, background: %.1f\n", same,
              mirrored, background);
  EXPECT_FALSE(covered()) << preview_size.width() << "x" << preview_size.height();
  EXPECT_LT(same, 12.0);
  EXPECT_GT(mirrored, same * 2);
  EXPECT_GT(background, same * 2);

  const qint64 closed_at = QDateTime::currentMSecsSinceEpoch();
  windows_.Close(window);
  ASSERT_TRUE(WaitFor([&] { return windows_.Find(kTitle, pid).empty(); }, kWaitMs));
  ASSERT_TRUE(WaitFor(
      [&] { return Log().contains("Tray message: Vantisol is running in the background."); },
      kWaitMs));
  EXPECT_EQ(ProgramProcesses(root_ + "/run").size(), 1u);
  // Pictures keep coming after the window went to the tray.
  auto saved_after_close = [&] {
    QStringList files;
    for (const QFileInfo& file :
         QDir(large).entryInfoList({"frame_*.png"}, QDir::Files, QDir::Name)) {
      if (file.lastModified().toMSecsSinceEpoch() > closed_at + 1000) files << file.filePath();
    }
    return files;
  };
  EXPECT_TRUE(WaitFor([&] { return saved_after_close().size() >= 6; }, kStartMs))
      << saved_after_close().size() << " pictures saved after the window was closed";
  ::kill(pid_t(client->processId()), SIGTERM);
  ClientRun second = finish(client, large);
  ASSERT_EQ(second.exit_code, 0) << second.output.toStdString();
  EXPECT_EQ(QImage(second.frames.back()).size(), QSize(1280, 720));
  // And they kept changing.
  const QStringList after_close = saved_after_close();
  ASSERT_GE(after_close.size(), 5);
  EXPECT_GE(distinct_frames(after_close), 3);
  EXPECT_TRUE(second.output.contains("per second")) << second.output.toStdString();

  // The client has gone while the window is hidden: the program ends once analytics has sent.
  EXPECT_TRUE(WaitFor([&] { return ProgramProcesses(root_ + "/run").empty(); }, 20000))
      << Log().right(2000).toStdString();
  EXPECT_TRUE(Described().contains("Lifetime/Stop/"));
}

// A video application killed while streaming leaves its registration behind: the program drops it
// within a few frames, so closing the window ends the program instead of hiding it in the tray.
TEST_F(ProgramTest, ClosingAfterTheClientWasKilledEndsTheProgram) {
  Store("show_welcome", false);
  QProcess* program = StartProgram();
  const qint64 pid = program->processId();
  ASSERT_TRUE(WaitFor([&] { return windows_.Find(kTitle, pid).size() == 1; }, kStartMs));
  QProcess* client =
      Launch(kClient,
             {"--size", "640x360", "--seconds", "300", "--dir", QFileInfo(kProgram).absolutePath()},
             "data");
  // The program follows the client's size: it has seen the client.
  ASSERT_TRUE(WaitFor([&] { return Log().contains("StartPipeline, size:640,360"); }, kStartMs))
      << Log().right(2000).toStdString();
  client->kill();
  ASSERT_TRUE(WaitForExit(client, 10000));
  ASSERT_TRUE(WaitFor(
      [&] { return Log().contains("WARNING Client seems to have crashed before..."); }, kStartMs))
      << "the killed client is still served\n"
      << Log().right(2000).toStdString();
  windows_.Close(windows_.Find(kTitle, pid).front());
  ASSERT_TRUE(WaitForExit(program, 20000)) << Log().right(2000).toStdString();
  EXPECT_EQ(program->exitCode(), 0);
  EXPECT_FALSE(Log().contains("Tray message"));
  EXPECT_TRUE(Described().contains("Lifetime/Stop/"));
}

// The value of an exported data symbol of an ELF file, read from the file's own bytes.
bool ReadExportedInt(const std::string& file, const std::string& name, int32_t* value) {
  QFile in(QString::fromStdString(file));
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = in.readAll();
  if (static_cast<size_t>(bytes.size()) < sizeof(Elf64_Ehdr)) return false;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(bytes.data());
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(bytes.data() + header->e_shoff);
  for (int i = 0; i < header->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strings = sections[sections[i].sh_link];
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(bytes.data() + sections[i].sh_offset);
    const size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t s = 0; s < count; ++s) {
      const char* symbol_name = bytes.data() + strings.sh_offset + symbols[s].st_name;
      if (name != symbol_name || symbols[s].st_shndx == SHN_UNDEF) continue;
      const Elf64_Shdr& holder = sections[symbols[s].st_shndx];
      if (holder.sh_type == SHT_NOBITS) {
        *value = 0;
        return true;
      }
      std::memcpy(value, bytes.data() + holder.sh_offset + (symbols[s].st_value - holder.sh_addr),
                  sizeof(*value));
      return true;
    }
  }
  return false;
}

TEST(ProgramBinaryTest, ExportsTheGpuPreferenceValues) {
  for (const char* name : {"NvOptimusEnablement", "AmdPowerXpressRequestHighPerformance"}) {
    int32_t value = 0;
    ASSERT_TRUE(ReadExportedInt(kProgram, name, &value)) << name << " is not in .dynsym";
    EXPECT_EQ(value, 1) << name;
  }
}

}  // namespace
}  // namespace vantisol
