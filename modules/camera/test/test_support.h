#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "pxc/pxc.h"
#include "test_folder.h"
#include "utils/logging.h"

namespace vantisol::test {

// Collects every log message while it lives.
class LogCapture {
 public:
  LogCapture() {
    Lines().clear();
    el::Helpers::installLogDispatchCallback<Callback>("capture");
  }
  ~LogCapture() { el::Helpers::uninstallLogDispatchCallback<Callback>("capture"); }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(Mutex());
    return Lines();
  }
  int Count(const std::string& message) const {
    const auto all = lines();
    return int(std::count(all.begin(), all.end(), message));
  }

 private:
  class Callback : public el::LogDispatchCallback {
   protected:
    void handle(const el::LogDispatchData* data) override {
      std::lock_guard<std::mutex> lock(Mutex());
      Lines().push_back(data->logMessage()->message());
    }
  };
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
};

// Points the simulated runtime at a scenario while it lives; unpaced unless the JSON says so.
class ScopedScenario {
 public:
  explicit ScopedScenario(const std::string& json = "{}") {
    file_ = folder_.str() + "/scenario.json";
    std::string text = json;
    if (text.find("\"paced\"") == std::string::npos) {
      text.insert(text.find('{') + 1, text.size() > 2 ? "\"paced\": false, " : "\"paced\": false");
    }
    std::ofstream(file_) << text;
    setenv("VANTISOL_CAMERA_SCENARIO", file_.c_str(), 1);
  }
  ~ScopedScenario() { unsetenv("VANTISOL_CAMERA_SCENARIO"); }

 private:
  TemporaryFolder folder_;
  std::string file_;
};

// An image of the test's own, with any pitch.
class FakeImage : public PXCImage {
 public:
  FakeImage(int width, int height, PixelFormat format, int pitch, int64_t time_stamp)
      : info_{width, height, format},
        pitch_(pitch),
        time_stamp_(time_stamp),
        pixels_(size_t(pitch) * height) {}
  void* QueryInstance(pxcUID) override { return nullptr; }
  void Release() override {}
  ImageInfo QueryInfo() override { return info_; }
  pxcI64 QueryTimeStamp() override { return time_stamp_; }
  pxcStatus AcquireAccess(Access, PixelFormat, ImageData* data) override {
    *data = ImageData{};
    data->format = info_.format;
    data->pitches[0] = pitch_;
    data->planes[0] = pixels_.data();
    return PXC_STATUS_NO_ERROR;
  }
  pxcStatus ReleaseAccess(ImageData*) override { return PXC_STATUS_NO_ERROR; }
  std::vector<uint8_t>& pixels() { return pixels_; }

 private:
  ImageInfo info_;
  int pitch_;
  int64_t time_stamp_;
  std::vector<uint8_t> pixels_;
};

}  // namespace vantisol::test
