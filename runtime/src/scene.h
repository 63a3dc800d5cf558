#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "face_mesh.h"
#include "worker_pool.h"

namespace pxcsim {

// What the simulated camera looks at and how the scripted events unfold; read from JSON.
struct Scenario {
  uint32_t seed = 1;
  bool paced = true;  // 30 frames per second of wall time
  int32_t version_major = 10;
  int32_t version_minor = 0;
  std::vector<std::string> devices{"SR300"};  // "SR300", "F200" or anything else (generic)
  int32_t frames = 0;                         // 0: endless; then acquiring fails with -3
  int32_t color_pitch_padding = 0;            // bytes added to each colour row
  bool fail_property_queries = false;
  // Depth modes the camera offers (width, height), each with every colour size; the lens is the
  // same at every size.
  std::vector<std::array<int32_t, 2>> depth_sizes{{640, 480}};
  std::string face_model;  // folder of the generated face model; empty: the build's
  // Events, in seconds of the 30-fps frame clock; the script repeats with this period.
  double period = 24.0;
  double second_person_enter = 6.0, second_person_leave = 12.0;
  double rename_every = 9.0;
  double lose_face_at = 4.0;
  int32_t lose_face_frames = 5;
  double dim_start = 14.0, dim_end = 18.0;
  double close_at = 20.0;

  // Reads the file; a missing or invalid file keeps the defaults and fills error.
  static Scenario Load(const std::string& file, std::string* error);
  // The same over the file's text.
  static Scenario Parse(const std::string& text, std::string* error);
};

struct Camera {
  int width = 0, height = 0;
  float fx = 0, fy = 0, cx = 0, cy = 0;
  float k1 = 0, k2 = 0, k3 = 0, p1 = 0, p2 = 0;
  std::array<float, 3> position{};  // camera centre in colour-camera space, millimetres
  // Unnormalised ray (x, y, 1) per pixel, with the distortion removed.
  std::vector<float> rays;
  void BuildRays(WorkerPool& pool);
  // Whether both image the same rays.
  bool SameLens(const Camera& other) const;
  // Colour-camera space (mm, y down) to pixels, distortion applied.
  bool Project(const float p[3], float* u, float* v) const;
};

struct PersonState {
  bool present = false;
  std::array<float, 3> head{};         // mm, colour camera, y down
  float yaw = 0, pitch = 0, roll = 0;  // degrees
  std::array<float, 4> expression{};
  std::array<float, 9> rotation{};  // head to camera, row-major
  int32_t user_id = -1;
  bool face_reported = false;
  bool painted_face = true;  // no face model: features painted on the skull
};

struct Landmark {
  std::array<float, 3> camera;  // mm, y down
  float u, v;
  int32_t confidence;
};

struct FaceOutput {
  int32_t user_id;
  int32_t x, y, w, h;
  float average_depth;
  float yaw, pitch, roll;
  std::array<float, 3> head;  // mm, y down
  std::vector<Landmark> landmarks;
};

// One rendered frame of both cameras.
struct Frame {
  int32_t number = 0;
  std::vector<uint8_t> color_bgr;     // colour size, 3 bytes a pixel
  std::vector<uint8_t> person;        // colour size, 255 person
  std::vector<uint16_t> color_depth;  // colour size, true z of each colour pixel
  std::vector<uint16_t> depth;        // depth size, with noise and holes
  std::vector<PersonState> persons;
  std::vector<FaceOutput> faces;
  // Per person, with a face model: the posed mask's vertices and normals (mm, y down).
  std::vector<std::vector<std::array<float, 3>>> mesh_vertices, mesh_normals;
  std::vector<std::vector<std::array<float, 3>>> mesh_colours;  // shaded, BGR
  // The renderer's scratch, kept from frame to frame so that a frame allocates nothing.
  std::vector<float> color_z, depth_z;
  std::vector<uint8_t> depth_hair;
  std::vector<uint32_t> color_reach, depth_reach;  // per tile of the view
};

// What never moves as one camera sees it: its rays, and the room's distance, what was hit and
// (colour) its shade per pixel.
struct View {
  View(Camera lens, bool colour, WorkerPool& pool);
  Camera camera;
  std::vector<float> room_t;
  std::vector<uint8_t> room_kind, room_bgr;
  // Square tiles, row by row, each a cone holding its pixels' rays: the unit axis, then the
  // cosine and sine of the widest ray's angle to it. A person no cone reaches is not traced there.
  static constexpr int kTile = 16;
  int tiles_x = 0, tiles_y = 0;
  std::vector<std::array<double, 5>> tiles;
};

// The latest view of each camera: a new size replaces it, the same size takes it again.
class ViewCache {
 public:
  std::shared_ptr<const View> Get(const Camera& lens, bool colour, WorkerPool& pool);

 private:
  std::mutex mutex_;
  std::shared_ptr<const View> views_[2];  // depth, colour
};

// Landmark scheme of the simulated face module, in head coordinates (mm, y down, -z facing).
int LandmarkCount();

class Scene {
 public:
  // Without a mesh the face is painted on the skull with its own landmark set.
  Scene(const Scenario& scenario, std::shared_ptr<const View> color,
        std::shared_ptr<const View> depth, WorkerPool* pool,
        std::shared_ptr<const FaceMesh> mesh = nullptr);
  // exposure: the colour property effect, 1 = neutral.
  void Render(int32_t number, float exposure, Frame* frame) const;
  const Camera& color() const { return color_view_->camera; }
  const Camera& depth() const { return depth_view_->camera; }

 private:
  void Animate(int32_t number, std::vector<PersonState>* persons) const;
  void Faces(const Frame& frame, std::vector<FaceOutput>* faces) const;
  void Pose(Frame* frame, float light) const;
  // Draws each person's mask into a camera's z-buffer; colour and codes when given.
  void Rasterise(const Camera& camera, const Frame& frame, float* z, uint8_t* bgr, uint8_t* codes,
                 uint8_t* hair) const;

  Scenario scenario_;
  std::shared_ptr<const View> color_view_, depth_view_;
  const Camera& color_;
  const Camera& depth_;
  WorkerPool* pool_;
  std::shared_ptr<const FaceMesh> mesh_;
};

}  // namespace pxcsim
