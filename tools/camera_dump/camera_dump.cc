// camera_dump [folder] [frames]: opens the first camera as the program does and writes its first
// frames (3 unless given, at most 100) as PNG files: colour, false-colour depth, mapped depth,
// segmentation, faces drawn. Standard output lists the files written; the log and a failure's
// "error: " line go to standard error, and a failure exits with 2.
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "utils/command_line.h"
#include "utils/logging.h"

namespace {

using vantisol::CameraImage;
using vantisol::ImageData;

// Every frame is held until the camera stops, at about 8 MB each.
constexpr int kMostFrames = 100;

const char kUsage[] = "usage: camera_dump [folder] [frames]\n";

// Sends the log's lines where a failure's line goes, so that a failing run prints nothing on
// standard output.
class LogToStandardError : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    if (data->dispatchAction() != el::base::DispatchAction::NormalLog) return;
    const el::LogMessage* message = data->logMessage();
    std::cerr << message->logger()->logBuilder()->build(message, true);
  }
};

// Reads [folder] [frames]; false after --help.
bool Parse(int argc, char** argv, std::string* folder, int* wanted) {
  std::vector<std::string> values;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return false;
    }
    values.push_back(a);
  }
  if (values.size() > 2) throw std::invalid_argument("unexpected argument " + values[2]);
  if (!values.empty() && values[0].size() > 1 && values[0][0] == '-')
    throw std::invalid_argument("unknown option " + values[0]);
  if (!values.empty()) *folder = values[0];
  if (values.size() > 1) *wanted = vantisol::WholeNumberOption("frames", values[1], 1, kMostFrames);
  return true;
}

cv::Mat Wrap(const CameraImage& image, int type) {
  return cv::Mat(image.size.height, image.size.width, type, image.data.get());
}

cv::Mat FalseColour(const CameraImage& depth) {
  cv::Mat millimetres = Wrap(depth, CV_16UC1), scaled, coloured;
  // 0.3 m to 2.5 m over the colour map; no measurement stays black.
  millimetres.convertTo(scaled, CV_8UC1, -255.0 / 2200, 255.0 * 2500 / 2200);
  cv::applyColorMap(scaled, coloured, cv::COLORMAP_JET);
  coloured.setTo(cv::Scalar(0, 0, 0), millimetres == 0);
  return coloured;
}

// A file that cannot be written ends the run: the next ones would fail alike.
void Write(const std::string& file, const cv::Mat& image) {
  if (!cv::imwrite(file, image)) throw std::runtime_error("cannot write " + file);
  std::cout << file << "\n";
}

void Dump(const ImageData& frame, const std::string& prefix) {
  cv::Mat colour;
  if (frame.color.format == vantisol::Image::Format::kYUY2) {
    cv::cvtColor(Wrap(frame.color, CV_8UC2), colour, cv::COLOR_YUV2BGR_YUY2);
    Write(prefix + "_color.png", colour);
  }
  if (frame.depth.valid()) Write(prefix + "_depth.png", FalseColour(frame.depth));
  if (frame.mapped_depth.valid())
    Write(prefix + "_mapped_depth.png", FalseColour(frame.mapped_depth));
  if (frame.segmentation.valid())
    Write(prefix + "_segmentation.png", Wrap(frame.segmentation, CV_8UC4));
  if (colour.empty()) return;
  for (const auto& [id, face] : frame.faces) {
    const cv::Scalar box_colour =
        face.landmarks_invalid ? cv::Scalar(0, 0, 255) : cv::Scalar(0, 255, 0);
    cv::rectangle(colour, cv::Rect(face.rect.x, face.rect.y, face.rect.width, face.rect.height),
                  box_colour, 2);
    cv::putText(colour, std::to_string(id) + "  " + std::to_string(face.average_depth) + " mm",
                cv::Point(face.rect.x, face.rect.y - 6), cv::FONT_HERSHEY_SIMPLEX, 0.6, box_colour,
                2);
    for (const auto& landmark : face.landmarks) {
      const bool sure = landmark.confidence_image == 100 && landmark.confidence_world == 100;
      cv::circle(colour, cv::Point2f(landmark.image[0], landmark.image[1]), 2,
                 sure ? cv::Scalar(255, 255, 0) : cv::Scalar(0, 128, 255), cv::FILLED);
    }
  }
  Write(prefix + "_faces.png", colour);
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = ".";
  int wanted = 3;
  try {
    if (!Parse(argc, argv, &folder, &wanted)) return 0;
  } catch (const std::invalid_argument& error) {
    std::cerr << error.what() << "\n" << kUsage;
    return 2;
  }
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Helpers::installLogDispatchCallback<LogToStandardError>("camera-dump-log");
  try {
    // Before the camera starts: otherwise the run would end at its first picture.
    const std::string refusal = vantisol::MakeOutputFolder(folder);
    if (!refusal.empty()) throw std::runtime_error(refusal);
    auto cameras = vantisol::CreateCameras();
    if (cameras.empty()) throw std::runtime_error("No camera found");
    vantisol::Camera& camera = *cameras[0];
    camera.EnableFaceTracking();
    camera.EnableDepthmap();
    camera.EnableDepthProjection();
    camera.EnableSegmentation(true);

    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::shared_ptr<const ImageData>> frames;
    bool stopped = false;
    auto frames_connection = camera.frame_signal_.connect([&](std::shared_ptr<const ImageData> f) {
      std::lock_guard<std::mutex> lock(mutex);
      if (int(frames.size()) < wanted) frames.push_back(std::move(f));
      done.notify_all();
    });
    auto stop_connection = camera.stopped_signal_.connect([&] {
      std::lock_guard<std::mutex> lock(mutex);
      stopped = true;
      done.notify_all();
    });
    camera.Start();
    {
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return stopped || int(frames.size()) >= wanted; });
    }
    camera.Stop();
    frames_connection.disconnect();
    stop_connection.disconnect();
    for (size_t i = 0; i < frames.size(); ++i) {
      Dump(*frames[i], folder + "/frame" + std::to_string(i));
    }
  } catch (const std::exception& error) {
    std::cerr << "error: " << error.what() << "\n";
    return 2;
  }
  return 0;
}
