#include "soak.h"

#include <fcntl.h>
#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <vector>

#include "gl_test.h"
#include "utils/logging.h"
#include "vantisol_pipeline/vantisol_pipeline.h"

using namespace gl;

namespace vantisol::tools {
namespace {

TEST(ProcessResourcesTest, CountsOpenedDescriptorsAndTouchedMemory) {
  const ProcessResources before = ProcessResources::Read();
  const int a = open("/proc/self/status", O_RDONLY), b = dup(a);
  ASSERT_GE(b, 0);
  EXPECT_EQ(ProcessResources::Read().open_files, before.open_files + 2);
  close(a);
  close(b);
  EXPECT_EQ(ProcessResources::Read().open_files, before.open_files);

  // 64 MiB written page by page must become resident.
  const size_t bytes = size_t(64) << 20;
  std::vector<char> memory(bytes);
  for (size_t i = 0; i < bytes; i += 4096) memory[i] = char(i);
  const ProcessResources after = ProcessResources::Read();
  EXPECT_GE(after.resident_kb - before.resident_kb, 56 * 1024) << memory[4096];
  EXPECT_GT(before.resident_kb, 0);
}

TEST(GlNameProbeTest, CountsObjectsMadeAndAlive) {
  test::TestContext();
  GlNameProbe probe;
  EXPECT_EQ(probe.Live()[0], -1);
  probe.Probe();
  EXPECT_EQ(probe.MadeSinceFirst()[0], -1) << "one probe cannot tell what was made";
  const auto live_before = probe.Live();

  GLuint textures[3], buffer, framebuffer;
  glGenTextures(3, textures);
  for (GLuint t : textures) glBindTexture(GL_TEXTURE_2D, t);
  glBindTexture(GL_TEXTURE_2D, 0);
  glGenBuffers(1, &buffer);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  probe.Probe();
  EXPECT_EQ(probe.MadeSinceFirst(), (std::array<int64_t, 3>{3, 1, 1}));
  EXPECT_EQ(probe.Live(),
            (std::array<int64_t, 3>{live_before[0] + 3, live_before[1] + 1, live_before[2] + 1}));

  // Deleted objects still count as made, no longer as alive; the probes' own names count as
  // neither.
  glDeleteTextures(3, textures);
  glDeleteBuffers(1, &buffer);
  glDeleteFramebuffers(1, &framebuffer);
  probe.Probe();
  probe.Probe();
  EXPECT_EQ(probe.MadeSinceFirst(), (std::array<int64_t, 3>{3, 1, 1}));
  EXPECT_EQ(probe.Live(), live_before);
}

TEST(LogLineCounterTest, CountsLinesThatAreWrittenNowhere) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  LogLineCounter::Install();
  const int64_t before = LogLineCounter::lines();
  LOG(INFO) << "one";
  LOG(WARNING) << "two";
  EXPECT_EQ(LogLineCounter::lines(), before + 2);
}

// Over a few dozen steps every effect is seen on and off (each background mode), each step
// changes something, and the reported line matches the pipeline's settings.
TEST(EffectCyclerTest, EveryEffectComesOnAndOff) {
  VantisolPipeline pipeline([] { return std::vector<std::unique_ptr<Camera>>{}; });
  EffectCycler cycler(&pipeline);
  std::set<bool> color, gaze, undistortion, automatic_camera, bilateral;
  std::set<int> modes;
  VantisolPipeline::Settings last = pipeline.settings();
  for (int step = 0; step < 40; ++step) {
    const std::string line = cycler.Step();
    const VantisolPipeline::Settings s = pipeline.settings();
    color.insert(s.color_correction);
    gaze.insert(s.gaze_correction);
    undistortion.insert(s.face_undistortion);
    automatic_camera.insert(s.automatic_camera);
    bilateral.insert(s.bilateral_filter);
    modes.insert(s.background_mode);
    EXPECT_NE(line.find(" mode " + std::to_string(s.background_mode) + " "), std::string::npos)
        << line;
    EXPECT_TRUE(
        s.color_correction != last.color_correction || s.background_mode != last.background_mode ||
        s.gaze_correction != last.gaze_correction ||
        s.face_undistortion != last.face_undistortion ||
        s.automatic_camera != last.automatic_camera || s.bilateral_filter != last.bilateral_filter)
        << "step " << step << " changed nothing";
    last = s;
  }
  for (const auto* seen : {&color, &gaze, &undistortion, &automatic_camera, &bilateral})
    EXPECT_EQ(seen->size(), 2u);
  EXPECT_EQ(modes, (std::set<int>{0, 1, 2}));
}

}  // namespace
}  // namespace vantisol::tools
