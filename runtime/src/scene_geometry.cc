#include "scene_geometry.h"

#include <cmath>
#include <mutex>

#include "scene_lighting.h"

namespace pxcsim {
namespace {

// Nearest positive t of origin + t * dir on an axis-aligned ellipsoid at the origin.
float Ellipsoid(const float o[3], const float d[3], const float r[3], bool second = false) {
  float a = 0, b = 0, c = -1;
  for (int i = 0; i < 3; ++i) {
    const float inv = 1.0f / (r[i] * r[i]);
    a += d[i] * d[i] * inv;
    b += 2 * o[i] * d[i] * inv;
    c += o[i] * o[i] * inv;
  }
  const float disc = b * b - 4 * a * c;
  if (disc < 0) return -1;
  const float s = std::sqrt(disc);
  const float t = (-b + (second ? s : -s)) / (2 * a);
  return t;
}

void Local(const PersonState& p, const float o[3], const float d[3], float lo[3], float ld[3]) {
  const float* r = p.rotation.data();
  const float q[3] = {o[0] - p.head[0], o[1] - p.head[1], o[2] - p.head[2]};
  for (int i = 0; i < 3; ++i) {
    lo[i] = r[i] * q[0] + r[3 + i] * q[1] + r[6 + i] * q[2];
    ld[i] = r[i] * d[0] + r[3 + i] * d[1] + r[6 + i] * d[2];
  }
}

// Whether the ray passes within radius of centre: a cheap test before the exact ones.
bool Near(const float o[3], const float d[3], const float c[3], float radius) {
  const float q[3] = {c[0] - o[0], c[1] - o[1], c[2] - o[2]};
  const float dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  const float qd = q[0] * d[0] + q[1] * d[1] + q[2] * d[2];
  const float qq = q[0] * q[0] + q[1] * q[1] + q[2] * q[2];
  return qq - qd * qd / dd <= radius * radius;
}

// The room: a wall at z = 2000 mm and a ball on a shelf. It never moves.
void TraceBackground(const float o[3], const float d[3], Hit* hit) {
  if (d[2] > 0) {
    const float t = (2000 - o[2]) / d[2];
    if (t > 0 && t < hit->t) {
      *hit = Hit{t, 0, 1, {o[0] + t * d[0], o[1] + t * d[1], 2000}};
    }
  }
  const float c[3] = {-520, 180, 1350}, r[3] = {160, 160, 160};
  const float q[3] = {o[0] - c[0], o[1] - c[1], o[2] - c[2]};
  const float t = Ellipsoid(q, d, r);
  if (t > 0 && t < hit->t) *hit = Hit{t, 0, 2, {q[0] + t * d[0], q[1] + t * d[1], q[2] + t * d[2]}};
}

bool MayReach(Reach reach, size_t person, int bound) {
  return person >= kReachPersons || (reach >> (kBounds * person + size_t(bound)) & 1);
}

}  // namespace

void Rotation(float yaw, float pitch, float roll, float* r) {
  // Head to camera; yaw turns about y, pitch about x, roll about z (degrees).
  const float y = yaw * kPi / 180, p = pitch * kPi / 180, o = roll * kPi / 180;
  const float cy = std::cos(y), sy = std::sin(y), cp = std::cos(p), sp = std::sin(p),
              co = std::cos(o), so = std::sin(o);
  // R = Ry * Rx * Rz
  const float ry[9] = {cy, 0, sy, 0, 1, 0, -sy, 0, cy};
  const float rx[9] = {1, 0, 0, 0, cp, -sp, 0, sp, cp};
  const float rz[9] = {co, -so, 0, so, co, 0, 0, 0, 1};
  float t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[i * 3 + j] = ry[i * 3] * rx[j] + ry[i * 3 + 1] * rx[3 + j] + ry[i * 3 + 2] * rx[6 + j];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r[i * 3 + j] = t[i * 3] * rz[j] + t[i * 3 + 1] * rz[3 + j] + t[i * 3 + 2] * rz[6 + j];
}

std::vector<Bounds> PersonBounds(const std::vector<PersonState>& persons) {
  constexpr float kOffset[kBounds][3] = {{0, 330, 60}, {0, 0, 0}, {0, 120, 20}, {0, 390, 70}};
  std::vector<Bounds> bounds(persons.size());
  for (size_t i = 0; i < persons.size(); ++i)
    for (int b = 0; b < kBounds; ++b)
      for (int k = 0; k < 3; ++k)
        bounds[i].centre[b][k] = persons[i].head[size_t(k)] + kOffset[b][k];
  return bounds;
}

void TracePersons(const std::vector<PersonState>& persons, const std::vector<Bounds>& all_bounds,
                  Reach reach, const float o[3], const float d[3], Hit* hit) {
  for (size_t i = 0; i < persons.size(); ++i) {
    const PersonState& p = persons[i];
    if (!p.present) continue;
    const auto& bounds = all_bounds[i].centre;
    if (!MayReach(reach, i, kBody) || !Near(o, d, bounds[kBody], 450)) continue;
    if (MayReach(reach, i, kHeadBound) && Near(o, d, p.head.data(), 125)) {
      float lo[3], ld[3];
      Local(p, o, d, lo, ld);
      float t = Ellipsoid(lo, ld, kHeadRadii);
      if (t > 0 && t < hit->t) {
        *hit = Hit{t,
                   int(1 + 4 * i + kHead),
                   3,
                   {lo[0] + t * ld[0], lo[1] + t * ld[1], lo[2] + t * ld[2]}};
      }
      const float ho[3] = {lo[0] - kHairOffset[0], lo[1] - kHairOffset[1], lo[2] - kHairOffset[2]};
      t = Ellipsoid(ho, ld, kHairRadii);
      if (t > 0 && t < hit->t) {
        const float y = lo[1] + t * ld[1], z = lo[2] + t * ld[2];
        if (y < -48 || z > 10 || (y < 20 && std::fabs(lo[0] + t * ld[0]) > 70))
          *hit = Hit{t, int(1 + 4 * i + kHair), 3, {lo[0] + t * ld[0], y, z}};
      }
    }
    const float neck_r[3] = {48, 75, 48};
    const float torso_r[3] = {210, 250, 120};
    for (int part = kNeck; part <= kTorso; ++part) {
      const float* c = bounds[part == kNeck ? kNeckBound : kTorsoBound];
      const float* r = part == kNeck ? neck_r : torso_r;
      if (!MayReach(reach, i, part == kNeck ? kNeckBound : kTorsoBound) ||
          !Near(o, d, c, std::max(r[0], r[1])))
        continue;
      const float q[3] = {o[0] - c[0], o[1] - c[1], o[2] - c[2]};
      const float t = Ellipsoid(q, d, r);
      if (t > 0 && t < hit->t)
        *hit =
            Hit{t, int(1 + 4 * i + part), 3, {q[0] + t * d[0], q[1] + t * d[1], q[2] + t * d[2]}};
    }
  }
}

void Camera::BuildRays(WorkerPool& pool) {
  rays.resize(size_t(width) * height * 2);
  pool.For(height, [&](int64_t begin, int64_t end) {
    for (int v = int(begin); v < int(end); ++v) {
      for (int u = 0; u < width; ++u) {
        const float xd = (u - cx) / fx, yd = (v - cy) / fy;
        float x = xd, y = yd;
        for (int i = 0; i < 20; ++i) {  // fixed-point inversion of the distortion
          const float r2 = x * x + y * y;
          const float radial = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
          const float dx = 2 * p1 * x * y + p2 * (r2 + 2 * x * x);
          const float dy = p1 * (r2 + 2 * y * y) + 2 * p2 * x * y;
          const float nx = (xd - dx) / radial, ny = (yd - dy) / radial;
          // At a fixed point every further step gives the same again.
          if (nx == x && ny == y) break;
          x = nx;
          y = ny;
        }
        rays[(size_t(v) * width + u) * 2] = x;
        rays[(size_t(v) * width + u) * 2 + 1] = y;
      }
    }
  });
}

bool Camera::Project(const float p[3], float* u, float* v) const {
  const float z = p[2] - position[2];
  if (z <= 1) return false;
  const float x = (p[0] - position[0]) / z, y = (p[1] - position[1]) / z;
  const float r2 = x * x + y * y;
  const float radial = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
  const float xd = x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x);
  const float yd = y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y;
  *u = fx * xd + cx;
  *v = fy * yd + cy;
  return true;
}

bool Camera::SameLens(const Camera& o) const {
  return width == o.width && height == o.height && fx == o.fx && fy == o.fy && cx == o.cx &&
         cy == o.cy && k1 == o.k1 && k2 == o.k2 && k3 == o.k3 && p1 == o.p1 && p2 == o.p2 &&
         position == o.position;
}

View::View(Camera lens, bool colour, WorkerPool& pool) : camera(std::move(lens)) {
  camera.BuildRays(pool);
  const size_t pixels = size_t(camera.width) * camera.height;
  room_t.resize(pixels);
  room_kind.resize(pixels);
  if (colour) room_bgr.resize(pixels * 3);
  const std::vector<PersonState> nobody;
  pool.For(int64_t(pixels), [&](int64_t begin, int64_t end) {
    for (size_t i = size_t(begin); i < size_t(end); ++i) {
      const float d[3] = {camera.rays[i * 2], camera.rays[i * 2 + 1], 1};
      Hit hit;
      TraceBackground(camera.position.data(), d, &hit);
      room_t[i] = hit.t;
      room_kind[i] = uint8_t(hit.kind);
      if (colour) Shade(nobody, hit, 128, 1, &room_bgr[i * 3]);
    }
  });
  tiles_x = (camera.width + kTile - 1) / kTile;
  tiles_y = (camera.height + kTile - 1) / kTile;
  tiles.resize(size_t(tiles_x) * tiles_y);
  pool.For(tiles_y, [&](int64_t begin, int64_t end) {
    for (int ty = int(begin); ty < int(end); ++ty) {
      for (int tx = 0; tx < tiles_x; ++tx) {
        const int u0 = tx * kTile, u1 = std::min(camera.width, u0 + kTile);
        const int v0 = ty * kTile, v1 = std::min(camera.height, v0 + kTile);
        auto unit = [&](int u, int v, double d[3]) {
          const size_t i = size_t(v) * camera.width + u;
          d[0] = camera.rays[i * 2], d[1] = camera.rays[i * 2 + 1], d[2] = 1;
          const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
          for (int k = 0; k < 3; ++k) d[k] /= n;
        };
        double axis[3] = {0, 0, 0}, d[3];
        for (int v = v0; v < v1; ++v)
          for (int u = u0; u < u1; ++u) {
            unit(u, v, d);
            for (int k = 0; k < 3; ++k) axis[k] += d[k];
          }
        const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        for (double& a : axis) a /= n;
        double widest = 0;
        for (int v = v0; v < v1; ++v)
          for (int u = u0; u < u1; ++u) {
            unit(u, v, d);
            const double c =
                std::clamp(d[0] * axis[0] + d[1] * axis[1] + d[2] * axis[2], -1.0, 1.0);
            widest = std::max(widest, std::acos(c));
          }
        tiles[size_t(ty) * tiles_x + tx] = {axis[0], axis[1], axis[2], std::cos(widest),
                                            std::sin(widest)};
      }
    }
  });
}

// Generous by a milliradian, far more than the float tests' rounding: a ray it rules out misses
// for certain.
void TileReach(const View& view, const std::vector<PersonState>& persons,
               const std::vector<Bounds>& bounds, std::vector<Reach>* reach) {
  struct Cone {
    Reach bit;
    double q[3];  // sphere centre from the camera, unit
    double cos, sin;
    bool inside;
  };
  std::vector<Cone> cones;
  for (size_t i = 0; i < std::min(persons.size(), kReachPersons); ++i) {
    if (!persons[i].present) continue;
    const auto& c = bounds[i].centre;
    for (int b = 0; b < kBounds; ++b) {
      Cone cone{};
      cone.bit = Reach(1) << (kBounds * i + size_t(b));
      for (int k = 0; k < 3; ++k) cone.q[k] = double(c[b][k]) - view.camera.position[size_t(k)];
      const double dist =
          std::sqrt(cone.q[0] * cone.q[0] + cone.q[1] * cone.q[1] + cone.q[2] * cone.q[2]);
      const double radius = kBoundRadius[b];
      cone.inside = dist <= radius + 1;
      if (!cone.inside) {
        for (double& q : cone.q) q /= dist;
        const double angle = std::asin(radius / dist) + 1e-3;
        cone.cos = std::cos(angle), cone.sin = std::sin(angle);
      }
      cones.push_back(cone);
    }
  }
  reach->assign(view.tiles.size(), 0);
  for (size_t t = 0; t < view.tiles.size(); ++t) {
    const auto& tile = view.tiles[t];
    Reach r = 0;
    for (const Cone& cone : cones) {
      // Lines, not rays: the angle between the axis and the line to the centre, either way.
      const double along =
          std::fabs(tile[0] * cone.q[0] + tile[1] * cone.q[1] + tile[2] * cone.q[2]);
      if (cone.inside || along >= tile[3] * cone.cos - tile[4] * cone.sin) r |= cone.bit;
    }
    // The body's bound only guards its parts: without them it is not worth a test.
    for (size_t i = 0; i < kReachPersons; ++i) {
      const Reach body = Reach(1) << (kBounds * i + kBody);
      const Reach parts = ((Reach(1) << kBounds) - 1) << (kBounds * i) & ~body;
      if (!(r & parts)) r &= ~body;
    }
    (*reach)[t] = r;
  }
}

std::shared_ptr<const View> ViewCache::Get(const Camera& lens, bool colour, WorkerPool& pool) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& view = views_[colour];
  if (!view || !view->camera.SameLens(lens))
    view = std::make_shared<const View>(lens, colour, pool);
  return view;
}

void Scene::Rasterise(const Camera& camera, const Frame& f, float* z, uint8_t* bgr, uint8_t* codes,
                      uint8_t* hair) const {
  if (!mesh_) return;
  const int w = camera.width, h = camera.height;
  constexpr int kBand = 48;
  const size_t band_count = size_t(h + kBand - 1) / kBand;
  // Per person, its vertices on screen and each band's front-facing triangles in mesh order: the
  // order decides equal depths. Persons keep their order within a band, and so in every pixel.
  struct Person {
    size_t index;
    std::vector<std::array<float, 3>> screen;
    std::vector<std::vector<int32_t>> bands;
  };
  std::vector<Person> people;
  for (size_t index = 0; index < f.mesh_vertices.size(); ++index) {
    const auto& vertices = f.mesh_vertices[index];
    if (vertices.empty()) continue;
    Person person{index, std::vector<std::array<float, 3>>(vertices.size()),
                  std::vector<std::vector<int32_t>>(band_count)};
    auto& screen = person.screen;
    for (size_t i = 0; i < vertices.size(); ++i) {
      float u = -1e9f, v = -1e9f;
      camera.Project(vertices[i].data(), &u, &v);
      screen[i] = {u, v, vertices[i][2] - camera.position[2]};
    }
    for (size_t t = 0; t < mesh_->triangles.size(); ++t) {
      const auto& tri = mesh_->triangles[t];
      const auto &a = screen[size_t(tri[0])], &b = screen[size_t(tri[1])],
                 &c = screen[size_t(tri[2])];
      const float area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
      if (area >= 0) continue;
      const int ymin = std::max(0, int(std::ceil(std::min({a[1], b[1], c[1]}))));
      const int ymax = std::min(h - 1, int(std::floor(std::max({a[1], b[1], c[1]}))));
      for (int band = ymin / kBand; ymin <= ymax && band <= ymax / kBand; ++band)
        person.bands[size_t(band)].push_back(int32_t(t));
    }
    people.push_back(std::move(person));
  }
  if (people.empty()) return;
  // A band's work depends on what lies in it: one band a grab.
  pool_->For(int64_t(band_count), 1, [&](int64_t begin, int64_t end) {
    for (int64_t band = begin; band < end; ++band) {
      const int y0 = int(band) * kBand, y1 = std::min(h, y0 + kBand);
      for (const Person& person : people) {
        const auto& screen = person.screen;
        const auto& colours = f.mesh_colours[person.index];
        const uint8_t code = uint8_t(1 + 4 * person.index + kHead);
        for (const int32_t binned : person.bands[size_t(band)]) {
          const size_t t = size_t(binned);
          const auto& tri = mesh_->triangles[t];
          const auto &a = screen[size_t(tri[0])], &b = screen[size_t(tri[1])],
                     &c = screen[size_t(tri[2])];
          const float area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
          if (area >= 0) continue;  // turned away: front faces run clockwise on screen
          const int ymin = std::max(y0, int(std::ceil(std::min({a[1], b[1], c[1]}))));
          const int ymax = std::min(y1 - 1, int(std::floor(std::max({a[1], b[1], c[1]}))));
          if (ymin > ymax) continue;
          const int xmin = std::max(0, int(std::ceil(std::min({a[0], b[0], c[0]}))));
          const int xmax = std::min(w - 1, int(std::floor(std::max({a[0], b[0], c[0]}))));
          for (int y = ymin; y <= ymax; ++y) {
            for (int x = xmin; x <= xmax; ++x) {
              const float w0 = ((b[0] - x) * (c[1] - y) - (b[1] - y) * (c[0] - x)) / area;
              const float w1 = ((c[0] - x) * (a[1] - y) - (c[1] - y) * (a[0] - x)) / area;
              const float w2 = 1 - w0 - w1;
              if (w0 < 0 || w1 < 0 || w2 < 0) continue;
              const float depth = w0 * a[2] + w1 * b[2] + w2 * c[2];
              const size_t i = size_t(y) * w + x;
              if (depth >= z[i]) continue;
              z[i] = depth;
              if (codes) codes[i] = code;
              if (hair) hair[i] = 0;
              if (!bgr) continue;
              for (int k = 0; k < 3; ++k) {
                float value = w0 * colours[size_t(tri[0])][size_t(k)] +
                              w1 * colours[size_t(tri[1])][size_t(k)] +
                              w2 * colours[size_t(tri[2])][size_t(k)];
                if (mesh_->gap[t]) value *= 0.2f;
                bgr[i * 3 + k] = uint8_t(std::clamp(value, 0.0f, 255.0f));
              }
            }
          }
        }
      }
    }
  });
}

}  // namespace pxcsim
