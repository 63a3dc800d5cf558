#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "face_mesh.h"
#include "scene.h"
#include "worker_pool.h"

namespace pxcsim {
namespace {

Scenario Parse(const std::string& text) {
  std::string error;
  Scenario scenario = Scenario::Parse(text, &error);
  EXPECT_EQ(error, "") << text;
  return scenario;
}

TEST(ScenarioTest, NumbersTheFieldCannotHoldKeepTheDefault) {
  const Scenario defaults;
  EXPECT_EQ(Parse(R"({"frames": 2147483647})").frames, 2147483647);
  EXPECT_EQ(Parse(R"({"frames": 2147483648})").frames, defaults.frames);
  EXPECT_EQ(Parse(R"({"frames": -2147483648})").frames, -2147483648LL);
  EXPECT_EQ(Parse(R"({"frames": -2147483649})").frames, defaults.frames);
  EXPECT_EQ(Parse(R"({"frames": 5e60})").frames, defaults.frames);
  EXPECT_EQ(Parse(R"({"seed": 4294967295})").seed, 4294967295u);
  EXPECT_EQ(Parse(R"({"seed": -1})").seed, defaults.seed);
  EXPECT_EQ(Parse(R"({"seed": 0})").seed, 0u);
  // Doubles take any number.
  EXPECT_EQ(Parse(R"({"close_at": 5e60})").close_at, 5e60);
}

TEST(ScenarioTest, PeriodAndRowPaddingStayUsable) {
  EXPECT_EQ(Parse(R"({"period": 0})").period, 24);
  EXPECT_EQ(Parse(R"({"period": 0.5})").period, 0.5);
  EXPECT_EQ(Parse(R"({"color_pitch_padding": -1})").color_pitch_padding, 0);
  EXPECT_EQ(Parse(R"({"color_pitch_padding": 0})").color_pitch_padding, 0);
  EXPECT_EQ(Parse(R"({"color_pitch_padding": 64})").color_pitch_padding, 64);
  std::string error;
  Scenario::Parse("[1, 2", &error);
  EXPECT_EQ(error, "invalid JSON");
}

// The second person walks in and out of the picture while the first leans close in front of them.
// Truth is what the rendered picture shows at each landmark: a reported face mostly shows there,
// and a face that shows whole (but for its edge) is reported unless the script drops it.
TEST(ScenarioTest, TheFaceModuleReportsTheFacesThePictureShows) {
  std::string error;
  const std::shared_ptr<const FaceMesh> mesh = FaceMesh::Load(PXCSIM_FACE_MODEL_DIR, &error);
  ASSERT_TRUE(mesh) << error;
  Camera lens;
  lens.width = 640, lens.height = 480;
  lens.fx = lens.fy = 474;
  lens.cx = 319.5f, lens.cy = 239.5f;
  Camera depth = lens;
  depth.width = 160, depth.height = 120, depth.fx = depth.fy = 118.5f;
  depth.cx = 79.5f, depth.cy = 59.5f;
  WorkerPool pool;
  ViewCache views;
  Scenario scenario;
  scenario.close_at = 8.5;
  const Scene scene(scenario, views.Get(lens, true, pool), views.Get(depth, false, pool), &pool,
                    mesh);
  const int count = int(mesh->landmarks.size());
  Frame frame;
  int unseen = 0;  // faces of the script that the picture does not show
  for (int number = 6 * 30; number < 13 * 30; number += 3) {
    scene.Render(number, 1, &frame);
    for (size_t index = 0; index < frame.persons.size(); ++index) {
      const PersonState& person = frame.persons[index];
      if (!person.present) continue;
      int shown = 0;
      for (const int32_t vertex : mesh->landmarks) {
        float u = -1, v = -1;
        lens.Project(frame.mesh_vertices[index][size_t(vertex)].data(), &u, &v);
        if (u < 0 || v < 0 || u >= lens.width || v >= lens.height) continue;
        const int code = frame.person[size_t(v) * size_t(lens.width) + size_t(u)];
        shown += code != 0 && size_t(code - 1) / 4 == index;
      }
      const bool reported =
          std::any_of(frame.faces.begin(), frame.faces.end(),
                      [&](const FaceOutput& face) { return face.user_id == person.user_id; });
      SCOPED_TRACE(testing::Message() << "frame " << number << ", person " << index << ": " << shown
                                      << " of " << count << " landmarks shown");
      if (reported) {
        EXPECT_GT(2 * shown, count) << "reported";
      } else if (10 * shown >= 9 * count) {
        EXPECT_FALSE(person.face_reported) << "not reported";
      }
      unseen += person.face_reported && 2 * shown <= count;
    }
  }
  EXPECT_GT(unseen, 0);
}

}  // namespace
}  // namespace pxcsim
