// One frame of both cameras: the room and the people traced, the masks drawn, depth noise added.

#include "scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "scene_geometry.h"
#include "scene_lighting.h"

namespace pxcsim {

Scene::Scene(const Scenario& scenario, std::shared_ptr<const View> color,
             std::shared_ptr<const View> depth, WorkerPool* pool,
             std::shared_ptr<const FaceMesh> mesh)
    : scenario_(scenario),
      color_view_(std::move(color)),
      depth_view_(std::move(depth)),
      color_(color_view_->camera),
      depth_(depth_view_->camera),
      pool_(pool),
      mesh_(std::move(mesh)) {}

void Scene::Render(int32_t number, float exposure, Frame* f) const {
  f->number = number;
  Animate(number, &f->persons);
  const Scenario& s = scenario_;
  const float light = SceneLight(s, number) * exposure;

  const int cw = color_.width, ch = color_.height;
  f->color_bgr.resize(size_t(cw) * ch * 3);
  f->person.resize(size_t(cw) * ch);
  f->color_depth.resize(size_t(cw) * ch);
  for (auto& p : f->persons) p.painted_face = !mesh_;
  Pose(f, light);
  const auto& persons = f->persons;
  auto& color_t = f->color_z;
  color_t.resize(size_t(cw) * ch);
  const View& cv = *color_view_;
  const std::vector<Bounds> bounds = PersonBounds(persons);
  TileReach(cv, persons, bounds, &f->color_reach);
  // The film grain of each noise byte, as the room's pixels add it.
  float grains[256];
  for (uint32_t n = 0; n < 256; ++n) grains[n] = (n / 255.0f - 0.5f) * 4;
  pool_->For(int64_t(ch), [&](int64_t begin, int64_t end) {
    // Locals: the byte stores below could otherwise alias every vector's bookkeeping.
    const float* rays = color_.rays.data();
    const float* room_t = cv.room_t.data();
    const uint8_t* room_kind = cv.room_kind.data();
    const uint8_t* room_bgr = cv.room_bgr.data();
    const Reach* reach = f->color_reach.data();
    uint8_t* bgr = f->color_bgr.data();
    uint8_t* codes = f->person.data();
    float* z = color_t.data();
    for (int v = int(begin); v < int(end); ++v) {
      const Reach* tiles = reach + size_t(v / View::kTile) * cv.tiles_x;
      for (int u = 0; u < cw; ++u) {
        const size_t i = size_t(v) * cw + u;
        const float o[3] = {0, 0, 0};
        const float d[3] = {rays[i * 2], rays[i * 2 + 1], 1};
        Hit hit;
        hit.t = room_t[i];
        hit.kind = room_kind[i];
        if (const Reach r = tiles[u / View::kTile]) TracePersons(persons, bounds, r, o, d, &hit);
        const uint32_t noise = Hash(s.seed, number, uint32_t(i));
        if (hit.kind == 3) {
          Shade(persons, hit, noise, light, &bgr[i * 3]);
        } else {
          const float grain = grains[noise & 0xff];
          for (int c = 0; c < 3; ++c)
            bgr[i * 3 + c] = uint8_t(std::clamp(room_bgr[i * 3 + c] * light + grain, 0.0f, 255.0f));
        }
        codes[i] = uint8_t(hit.code);
        z[i] = hit.kind == 0 ? std::numeric_limits<float>::max() : hit.t;
      }
    }
  });

  Rasterise(color_, *f, color_t.data(), f->color_bgr.data(), f->person.data(), nullptr);
  pool_->For(int64_t(color_t.size()), [&](int64_t begin, int64_t end) {
    for (size_t i = size_t(begin); i < size_t(end); ++i)
      f->color_depth[i] = color_t[i] > kFarZ ? 0 : uint16_t(color_t[i] + 0.5f);
  });

  const int dw = depth_.width, dh = depth_.height;
  auto& z = f->depth_z;
  auto& hair = f->depth_hair;
  z.resize(size_t(dw) * dh);
  hair.resize(size_t(dw) * dh);
  const View& dv = *depth_view_;
  TileReach(dv, persons, bounds, &f->depth_reach);
  pool_->For(int64_t(dh), [&](int64_t begin, int64_t end) {
    for (int v = int(begin); v < int(end); ++v) {
      for (int u = 0; u < dw; ++u) {
        const size_t i = size_t(v) * dw + u;
        const float d[3] = {depth_.rays[i * 2], depth_.rays[i * 2 + 1], 1};
        Hit hit;
        hit.t = dv.room_t[i];
        hit.kind = dv.room_kind[i];
        TracePersons(persons, bounds,
                     f->depth_reach[size_t(v / View::kTile) * dv.tiles_x + u / View::kTile],
                     depth_.position.data(), d, &hit);
        z[i] = hit.kind == 0 ? std::numeric_limits<float>::max() : hit.t;
        hair[i] = hit.kind == 3 && (hit.code - 1) % 4 == kHair;
      }
    }
  });
  Rasterise(depth_, *f, z.data(), nullptr, nullptr, hair.data());
  // Beyond the range the sensor sees nothing.
  auto range = [&z](size_t i) { return z[i] > kFarZ ? 0.0f : z[i]; };
  f->depth.resize(size_t(dw) * dh);
  pool_->For(int64_t(dh), [&](int64_t begin, int64_t end) {
    for (int v = int(begin); v < int(end); ++v) {
      for (int u = 0; u < dw; ++u) {
        const size_t i = size_t(v) * dw + u;
        const float value = range(i);
        // The far side of a silhouette and much of the hair return nothing.
        bool hole = value <= 0 || value > kFarZ;
        const int nb[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
        for (const auto& n : nb) {
          const int x = u + n[0], y = v + n[1];
          if (x < 0 || y < 0 || x >= dw || y >= dh) continue;
          const float other = range(size_t(y) * dw + x);
          if (other > 0 && value - other > 60) hole = true;
        }
        if (hair[i] && Uniform(s.seed, number, uint32_t(i) ^ 0x55555555u) < 0.45f) hole = true;
        if (hole) {
          f->depth[i] = 0;
          continue;
        }
        const float sigma = 1.0f + 1.5f * (value / 1000) * (value / 1000);
        const float noise = (Uniform(s.seed, number, uint32_t(i)) +
                             Uniform(s.seed, number + 7919, uint32_t(i)) - 1) *
                            2.4f * sigma;
        f->depth[i] = uint16_t(std::clamp(value + noise + 0.5f, 1.0f, kFarZ));
      }
    }
  });
  Faces(*f, &f->faces);
}

}  // namespace pxcsim
