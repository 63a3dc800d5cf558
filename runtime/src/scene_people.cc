// The people of the scene: how the script moves them, how their masks are posed and which of
// their faces the face module reports.

#include <algorithm>
#include <cmath>

#include "scene.h"
#include "scene_geometry.h"
#include "scene_lighting.h"

namespace pxcsim {
namespace {

struct LandmarkDef {
  float x, y;
};
// Jaw 0-8, brows 9-14, eyes 15-22, nose 23-26, mouth 27-33.
constexpr LandmarkDef kLandmarks[] = {
    {-72, 5},  {-68, 30},  {-58, 55},  {-40, 78},  {0, 92},    {40, 78},  {58, 55},
    {68, 30},  {72, 5},    {-50, -32}, {-32, -34}, {-14, -32}, {14, -32}, {32, -34},
    {50, -32}, {-46, -12}, {-32, -18}, {-18, -12}, {-32, -7},  {18, -12}, {32, -18},
    {46, -12}, {32, -7},   {0, -10},   {0, 18},    {-12, 24},  {12, 24},  {-24, 42},
    {-12, 38}, {0, 37},    {12, 38},   {24, 42},   {0, 48},    {0, 42}};

// A landmark lies on the surface it marks, which the rasteriser puts a few millimetres off at a
// grazing angle; a surface nearer than this hides it.
constexpr float kHiddenBehind = 20;

}  // namespace

int LandmarkCount() { return int(sizeof(kLandmarks) / sizeof(kLandmarks[0])); }

void Scene::Animate(int32_t number, std::vector<PersonState>* persons) const {
  const Scenario& s = scenario_;
  const double t = number / 30.0;
  const double tm = std::fmod(t, s.period);
  const int cycle = int(t / s.period);
  const float ph = Uniform(s.seed, 1, 2) * 10;  // the seed shifts the path's phases
  const float tf = float(t) + ph;
  persons->assign(2, PersonState{});

  PersonState& a = (*persons)[0];
  a.present = true;
  float close = 0;
  if (tm >= s.close_at && tm < s.close_at + 2) {
    const float x = std::sin(kPi * float(tm - s.close_at) / 2);
    close = x * x;
  }
  a.head = {90 * std::sin(0.37f * tf) + 30 * std::sin(1.1f * tf), -40 + 25 * std::sin(0.53f * tf),
            620 + 80 * std::sin(0.29f * tf) - 330 * close};
  a.yaw = 25 * std::sin(0.41f * tf);
  a.pitch = 12 * std::sin(0.67f * tf + 1);
  a.roll = 6 * std::sin(0.31f * tf);
  a.expression = {
      0.5f + 0.5f * std::sin(0.8f * tf), std::pow(std::max(0.0f, std::sin(1.3f * tf)), 2.0f),
      std::max(0.0f, std::sin(0.45f * tf + 2)), std::fmod(tf, 3.7f) < 0.15f ? 1.0f : 0.0f};
  const int renames = s.rename_every > 0 ? int(t / s.rename_every) : 0;
  a.user_id = 1 + renames;
  const bool lost = tm >= s.lose_face_at && tm < s.lose_face_at + s.lose_face_frames / 30.0;
  a.face_reported = !lost && a.head[2] > 350;

  PersonState& b = (*persons)[1];
  if (tm >= s.second_person_enter && tm < s.second_person_leave) {
    const float in = Smooth(float(tm - s.second_person_enter) / 2);
    const float out = Smooth(float(s.second_person_leave - tm) / 2);
    b.present = true;
    b.head = {1250 - 850 * std::min(in, out), -10 + 10 * std::sin(0.9f * tf), 1150};
    b.yaw = -20 + 10 * std::sin(0.5f * tf);
    b.pitch = 5 * std::sin(0.7f * tf);
    b.expression = {0.3f, 0.2f * (1 + std::sin(2.1f * tf)), 0, 0};
    b.user_id = 1000 + cycle;
    b.face_reported = true;
  }
  for (auto& p : *persons) Rotation(p.yaw, p.pitch, p.roll, p.rotation.data());
}

void Scene::Faces(const Frame& f, std::vector<FaceOutput>* faces) const {
  faces->clear();
  for (size_t index = 0; index < f.persons.size(); ++index) {
    const PersonState& p = f.persons[index];
    if (!p.present || !p.face_reported) continue;
    FaceOutput out{};
    out.user_id = p.user_id;
    out.yaw = p.yaw, out.pitch = p.pitch, out.roll = p.roll;
    out.head = p.head;
    float min_u = 1e9f, min_v = 1e9f, max_u = -1e9f, max_v = -1e9f;
    const float* r = p.rotation.data();
    const bool mesh = mesh_ && index < f.mesh_vertices.size() && !f.mesh_vertices[index].empty();
    const int landmark_count = mesh ? int(mesh_->landmarks.size()) : LandmarkCount();
    int seen = 0;  // landmarks in the picture and in front of whatever it shows there
    for (int k = 0; k < landmark_count; ++k) {
      Landmark m{};
      float n[3];
      if (mesh) {
        const size_t vertex = size_t(mesh_->landmarks[size_t(k)]);
        m.camera = f.mesh_vertices[index][vertex];
        for (int i = 0; i < 3; ++i) n[i] = f.mesh_normals[index][vertex][size_t(i)];
      } else {
        float x = kLandmarks[k].x, y = kLandmarks[k].y;
        const float smile = p.expression[0], open = p.expression[1], brow = p.expression[2];
        if (k >= 9 && k <= 14) y -= 8 * brow;
        if (k == 27 || k == 31) y -= 6 * smile, x += (k == 27 ? -3 : 3) * smile;
        if (k == 32) y += 14 * open;
        if (k == 33) y += 7 * open;
        if (k == 16 || k == 20) y += 5 * p.expression[3];
        const float q = 1 - (x / kHeadRadii[0]) * (x / kHeadRadii[0]) -
                        (y / kHeadRadii[1]) * (y / kHeadRadii[1]);
        float zl = -kHeadRadii[2] * std::sqrt(std::max(0.0f, q));
        if (k == 24) zl -= 15;
        const float l[3] = {x, y, zl};
        for (int i = 0; i < 3; ++i)
          m.camera[i] = p.head[i] + r[i * 3] * l[0] + r[i * 3 + 1] * l[1] + r[i * 3 + 2] * l[2];
        float g[3] = {x / (kHeadRadii[0] * kHeadRadii[0]), y / (kHeadRadii[1] * kHeadRadii[1]),
                      zl / (kHeadRadii[2] * kHeadRadii[2])};
        for (int i = 0; i < 3; ++i)
          n[i] = r[i * 3] * g[0] + r[i * 3 + 1] * g[1] + r[i * 3 + 2] * g[2];
      }
      float view[3], len = 0, vlen = 0, facing = 0;
      for (int i = 0; i < 3; ++i) len += n[i] * n[i], vlen += m.camera[i] * m.camera[i];
      for (int i = 0; i < 3; ++i)
        view[i] = m.camera[i] / std::sqrt(vlen), facing -= n[i] / std::sqrt(len) * view[i];
      color_.Project(m.camera.data(), &m.u, &m.v);
      const bool inside = m.u >= 0 && m.v >= 0 && m.u < color_.width && m.v < color_.height;
      m.confidence = !inside ? 0 : facing > 0.25f ? 100 : 40;
      if (inside) {
        const size_t pixel = size_t(m.v) * size_t(color_.width) + size_t(m.u);
        seen += m.camera[2] - color_.position[2] <= f.color_z[pixel] + kHiddenBehind;
      }
      min_u = std::min(min_u, m.u), max_u = std::max(max_u, m.u);
      min_v = std::min(min_v, m.v), max_v = std::max(max_v, m.v);
      out.landmarks.push_back(m);
    }
    // A camera finds only a face it sees: one mostly outside the picture or hidden is not there.
    if (2 * seen <= landmark_count) continue;
    const float mu = (max_u - min_u) * 0.08f, mv = (max_v - min_v) * 0.12f;
    out.x = std::max(0, int(min_u - mu));
    out.y = std::max(0, int(min_v - 2.5f * mv));
    const int x1 = std::min(color_.width, int(max_u + mu)),
              y1 = std::min(color_.height, int(max_v + mv));
    if (x1 <= out.x || y1 <= out.y) continue;
    out.w = x1 - out.x;
    out.h = y1 - out.y;
    double sum = 0;
    int count = 0;
    const uint8_t head_code = uint8_t(1 + 4 * index + kHead);
    for (int v = out.y; v < y1; ++v)
      for (int u = out.x; u < x1; ++u) {
        const size_t i = size_t(v) * color_.width + u;
        if (f.person[i] == head_code && f.color_depth[i] > 0) sum += f.color_depth[i], ++count;
      }
    out.average_depth = count ? float(sum / count) : 0;
    faces->push_back(std::move(out));
  }
}

void Scene::Pose(Frame* f, float light) const {
  f->mesh_vertices.assign(f->persons.size(), {});
  f->mesh_normals.assign(f->persons.size(), {});
  f->mesh_colours.assign(f->persons.size(), {});
  if (!mesh_) return;
  const float* l = kLightDirection;
  for (size_t index = 0; index < f->persons.size(); ++index) {
    const PersonState& p = f->persons[index];
    if (!p.present) continue;
    const size_t n = mesh_->neutral.size();
    auto& vertices = f->mesh_vertices[index];
    auto& normals = f->mesh_normals[index];
    auto& colours = f->mesh_colours[index];
    vertices.resize(n);
    normals.assign(n, {0, 0, 0});
    colours.resize(n);
    const float* r = p.rotation.data();
    for (size_t i = 0; i < n; ++i) {
      std::array<float, 3> local = mesh_->neutral[i];
      for (int e = 0; e < FaceMesh::kExpressions; ++e)
        for (int c = 0; c < 3; ++c)
          local[size_t(c)] += p.expression[size_t(e)] * mesh_->offsets[size_t(e)][i][size_t(c)];
      for (int c = 0; c < 3; ++c)
        vertices[i][size_t(c)] = p.head[size_t(c)] + r[c * 3] * local[0] + r[c * 3 + 1] * local[1] +
                                 r[c * 3 + 2] * local[2];
    }
    for (const auto& t : mesh_->triangles) {
      const auto &a = vertices[size_t(t[0])], &b = vertices[size_t(t[1])],
                 &c = vertices[size_t(t[2])];
      const float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
      const float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
      const float cross[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                              e1[0] * e2[1] - e1[1] * e2[0]};
      for (int32_t v : t)
        for (int k = 0; k < 3; ++k) normals[size_t(v)][size_t(k)] += cross[k];
    }
    for (size_t i = 0; i < n; ++i) {
      auto& m = normals[i];
      const float len = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
      if (len > 0)
        for (float& c : m) c /= len;
      const float shade = 0.35f + 0.65f * std::max(0.0f, m[0] * l[0] + m[1] * l[1] + m[2] * l[2]);
      for (int c = 0; c < 3; ++c)
        colours[i][size_t(2 - c)] = mesh_->albedo[i][size_t(c)] * shade * light;
    }
  }
}

}  // namespace pxcsim
