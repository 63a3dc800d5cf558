// Reads frames from the program through the virtual camera's frame client, as a video-call
// application would through the plug-in:
//   vcam_client [--size WxH] [--seconds S] [--every K --out FOLDER] [--recent N] [--dir FOLDER]
// It registers as client at the size (default 1280x720), starts the program when none runs (from
// FOLDER or the folder above; by default the program's folder of the build this tool belongs to,
// where the build also puts the loading picture), reads samples for S seconds (default 10) and
// prints the frames per second, the time each sample took, and, for frames that carry a
// producer's steady-clock stamp in bytes 8-15 (the test producer does), the hand-over latency.
// With --every K every K-th sample is saved upright as FOLDER/frame_<n>.png. With --recent N it
// keeps the last N samples, and on SIGUSR1 writes them upright as FOLDER/recent_<n>.ppm and then
// an empty FOLDER/recent.done: what it held when a picture elsewhere was taken. SIGTERM ends the
// reading early, with the same report as when the time is up.

#include <lodepng.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "utils/command_line.h"
#include "utils/path.h"
#include "utils/process.h"
#include "utils/shared_memory_image.h"
#include "vantisol_client/vantisol_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// Samples held in memory at once: over half a minute's worth.
constexpr int kMostRecent = 1000;

constexpr char kUsage[] =
    "usage: vcam_client [--size WxH] [--seconds S] [--every K --out FOLDER] [--recent N]\n"
    "                   [--dir FOLDER]\n"
    "Reads the program's frames through the virtual camera's frame client, starting the program\n"
    "when none runs, and prints frames per second and per-sample times.\n"
    "  --size WxH      picture size to ask for (default 1280x720)\n"
    "  --seconds S     how long to read (default 10)\n"
    "  --every K       save every K-th sample as PNG into the --out folder (default .)\n"
    "  --recent N      keep the last N samples; on SIGUSR1 write them as PPM into --out\n"
    "  --dir FOLDER    where the program and vantisol_loading.png are (or the folder above);\n"
    "                  default: the program's folder of this build\n"
    "  --help          print this text\n";

// The folder of the build's program, relative to this tool's (set by the build), or this tool's
// own folder when the program is not there (a copied tool).
vantisol::path DefaultFolder() {
  const vantisol::path own = vantisol::path(vantisol::utils::ModuleFilePath()).parent_path();
  const vantisol::path program = (own / vantisol::path(VANTISOL_PROGRAM_FOLDER)).make_absolute();
  return (program / vantisol::path(vantisol::kProgramFileName)).exists() ? program : own;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
  return values[index];
}

volatile std::sig_atomic_t recent_requested = 0;
volatile std::sig_atomic_t end_requested = 0;

// A sample (bottom-up BGR) as top-down RGB.
std::vector<unsigned char> Upright(const std::vector<unsigned char>& sample, int width,
                                   int height) {
  std::vector<unsigned char> rgb(sample.size());
  for (int y = 0; y < height; ++y) {
    const unsigned char* in = &sample[static_cast<size_t>(height - 1 - y) * width * 3];
    unsigned char* out = &rgb[static_cast<size_t>(y) * width * 3];
    for (int x = 0; x < width; ++x) {
      out[x * 3] = in[x * 3 + 2];
      out[x * 3 + 1] = in[x * 3 + 1];
      out[x * 3 + 2] = in[x * 3];
    }
  }
  return rgb;
}

void SavePng(const std::vector<unsigned char>& sample, int width, int height,
             const std::string& file) {
  if (lodepng::encode(file, Upright(sample, width, height), width, height, LCT_RGB, 8) != 0) {
    std::fprintf(stderr, "vcam_client: cannot write %s\n", file.c_str());
  }
}

// PPM rather than PNG: a second's samples are written at once without holding the client up.
void SaveRecent(const std::deque<std::pair<int, std::vector<unsigned char>>>& recent, int width,
                int height, const std::string& folder) {
  for (const auto& [number, sample] : recent) {
    char name[64];
    std::snprintf(name, sizeof(name), "/recent_%05d.ppm", number);
    std::ofstream file(folder + name, std::ios::binary);
    file << "P6\n" << width << " " << height << "\n255\n";
    const auto rgb = Upright(sample, width, height);
    file.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
  }
  std::ofstream(folder + "/recent.done");
}

// Why the stream could not start: the camera taken by another application, another refusal of
// the frame channel, or no program to start.
void ReportRefusal(const vantisol::VantisolClient& client, const vantisol::path& folder) {
  using StartFailure = vantisol::VantisolClient::StartFailure;
  const std::string& refusal = client.channel_refusal();
  if (client.start_failure() == StartFailure::kChannel) {
    const bool in_use = refusal == vantisol::kClientRunning;
    std::fprintf(stderr, "vcam_client: could not start the stream: %s (%s)\n",
                 in_use ? "another application is using the camera"
                        : "the frame channel could not be opened",
                 refusal.c_str());
    return;
  }
  std::fprintf(stderr,
               "vcam_client: could not start the stream; is the program %s in %s or the folder "
               "above? (see the plug-in's log)\n",
               vantisol::kProgramFileName, folder.str().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  vantisol::Size size{1280, 720};
  double seconds = 10.0;
  int every = 0;
  size_t keep_recent = 0;
  std::string out = ".";
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    try {
      if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      } else if (arg == "--size" && value) {
        size = vantisol::SizeOption(arg, argv[++i], 1, vantisol::kLargestPictureSide);
      } else if (arg == "--seconds" && value) {
        seconds = vantisol::NumberOption(arg, argv[++i], 0, vantisol::kWeekInSeconds);
      } else if (arg == "--every" && value) {
        every = vantisol::WholeNumberOption(arg, argv[++i], 0, vantisol::kLargestOption);
      } else if (arg == "--recent" && value) {
        keep_recent =
            static_cast<size_t>(vantisol::WholeNumberOption(arg, argv[++i], 0, kMostRecent));
      } else if (arg == "--out" && value) {
        out = argv[++i];
      } else if (arg == "--dir" && value) {
        dir = argv[++i];
      } else {
        std::fprintf(stderr, "vcam_client: unknown or incomplete option %s\n%s", arg.c_str(),
                     kUsage);
        return 2;
      }
    } catch (const std::invalid_argument& refusal) {
      std::fprintf(stderr, "vcam_client: %s\n", refusal.what());
      return 2;
    }
  }
  if (keep_recent > 0) std::signal(SIGUSR1, [](int) { recent_requested = 1; });
  std::signal(SIGTERM, [](int) { end_requested = 1; });

  const vantisol::path folder = dir.empty() ? DefaultFolder() : vantisol::path(dir);
  std::printf("program folder: %s\n", folder.str().c_str());
  std::fflush(stdout);
  vantisol::VantisolClient client{folder};
  client.set_resolution(size);
  if (!client.StartThread()) {
    ReportRefusal(client, folder);
    client.StopThread();
    return 1;
  }
  std::vector<unsigned char> sample(static_cast<size_t>(size.width) * size.height * 3);
  std::deque<std::pair<int, std::vector<unsigned char>>> recent;
  std::vector<double> fill_ms;
  std::vector<double> latency_ms;
  int64_t last_stamp = 0;
  int samples = 0;
  int new_frames = 0;
  const Clock::time_point begin = Clock::now();
  const Clock::time_point stop =
      begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < stop && !end_requested) {
    int64_t start = 0;
    int64_t end = 0;
    const Clock::time_point before = Clock::now();
    client.FillBuffer(sample.data(), static_cast<long>(sample.size()), &start, &end);
    const Clock::time_point after = Clock::now();
    fill_ms.push_back(std::chrono::duration<double, std::milli>(after - before).count());
    int64_t stamp = 0;
    std::memcpy(&stamp, sample.data() + 8, sizeof(stamp));
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(after.time_since_epoch()).count();
    if (stamp != last_stamp && stamp > now - 1000000000 && stamp <= now) {
      latency_ms.push_back((now - stamp) / 1e6);
      ++new_frames;
    }
    last_stamp = stamp;
    if (every > 0 && samples % every == 0) {
      char name[64];
      std::snprintf(name, sizeof(name), "/frame_%05d.png", samples);
      SavePng(sample, size.width, size.height, out + name);
    }
    if (keep_recent > 0) {
      if (recent.size() == keep_recent) recent.pop_front();
      recent.emplace_back(samples, sample);
      if (recent_requested) {
        recent_requested = 0;
        SaveRecent(recent, size.width, size.height, out);
      }
    }
    ++samples;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  client.StopThread();
  std::printf("samples %d in %.2f s: %.2f per second\n", samples, elapsed, samples / elapsed);
  std::printf("sample time ms: p50 %.2f p99 %.2f max %.2f\n", Percentile(fill_ms, 0.5),
              Percentile(fill_ms, 0.99), Percentile(fill_ms, 1.0));
  if (!latency_ms.empty()) {
    std::printf("stamped frames %d: %.2f per second; hand-over latency ms: p50 %.3f p99 %.3f\n",
                new_frames, new_frames / elapsed, Percentile(latency_ms, 0.5),
                Percentile(latency_ms, 0.99));
  }
  return 0;
}
