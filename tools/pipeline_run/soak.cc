#include "soak.h"

#include <dirent.h>
#include <glbinding/gl/gl.h>

#include <fstream>

#include "utils/logging.h"
#include "vantisol_pipeline/vantisol_pipeline.h"

using namespace gl;

namespace vantisol::tools {

ProcessResources ProcessResources::Read() {
  ProcessResources r;
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    if (key == "VmRSS:") {
      status >> r.resident_kb;
      break;
    }
    status.ignore(1 << 12, '\n');
  }
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(folder))
      if (entry->d_name[0] != '.') ++r.open_files;
    closedir(folder);
    --r.open_files;
  }
  return r;
}

void GlNameProbe::Probe() {
  GLuint names[3] = {0, 0, 0};
  glGenTextures(1, &names[0]);
  glDeleteTextures(1, &names[0]);
  glGenBuffers(1, &names[1]);
  glDeleteBuffers(1, &names[1]);
  glGenFramebuffers(1, &names[2]);
  glDeleteFramebuffers(1, &names[2]);
  // Live objects: every name below the next free one that still names an object (a texture or
  // buffer of the share group, a framebuffer of this context).
  int64_t live[3] = {0, 0, 0};
  for (GLuint name = 1; name < names[0]; ++name) live[0] += glIsTexture(name) == GL_TRUE;
  for (GLuint name = 1; name < names[1]; ++name) live[1] += glIsBuffer(name) == GL_TRUE;
  for (GLuint name = 1; name < names[2]; ++name) live[2] += glIsFramebuffer(name) == GL_TRUE;
  const bool first = probes_ == 0;
  for (int i = 0; i < 3; ++i) {
    if (first) first_[i] = names[i];
    last_[i] = names[i];
    live_[i] = live[i];
  }
  ++probes_;
}

std::array<int64_t, 3> GlNameProbe::Live() const {
  std::array<int64_t, 3> live{-1, -1, -1};
  if (probes_ == 0) return live;
  for (int i = 0; i < 3; ++i) live[i] = live_[i];
  return live;
}

std::array<int64_t, 3> GlNameProbe::MadeSinceFirst() const {
  std::array<int64_t, 3> made{-1, -1, -1};
  const int64_t probes = probes_;
  if (probes < 2) return made;
  for (int i = 0; i < 3; ++i) made[i] = last_[i] - first_[i] - (probes - 1);
  return made;
}

namespace {
std::atomic<int64_t> log_lines{0};
class Counter : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData*) override { ++log_lines; }
};
}  // namespace

void LogLineCounter::Install() {
  el::Helpers::installLogDispatchCallback<Counter>("pipeline-run-line-counter");
}
int64_t LogLineCounter::lines() { return log_lines; }

std::string EffectCycler::Step() {
  const int k = ++step_;
  const bool color = k % 2 == 0;
  const int mode = k % 3;
  const bool gaze = (k / 2) % 2 == 1;
  const bool undistortion = (k / 4) % 2 == 1;
  const bool automatic_camera = (k / 3) % 2 == 1;
  const bool bilateral = (k / 5) % 2 == 1;
  pipeline_->SetColorCorrection(color);
  pipeline_->SetBackgroundMode(mode);
  pipeline_->SetGazeCorrection(gaze);
  pipeline_->SetFaceUndistortion(undistortion);
  pipeline_->SetAutomaticCamera(automatic_camera);
  pipeline_->SetBilateralFilter(bilateral);
  return "effects: color " + std::to_string(color) + " mode " + std::to_string(mode) + " gaze " +
         std::to_string(gaze) + " undistortion " + std::to_string(undistortion) + " auto-camera " +
         std::to_string(automatic_camera) + " bilateral " + std::to_string(bilateral);
}

}  // namespace vantisol::tools
