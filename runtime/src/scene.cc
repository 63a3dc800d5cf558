#include "scene.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <type_traits>

namespace pxcsim {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kFarZ = 3000.0f;
constexpr float kHeadRadii[3] = {78, 102, 94};
constexpr float kHairRadii[3] = {86, 110, 100};
constexpr float kHairOffset[3] = {0, -8, 8};

// Object codes in the colour picture: 0 background, 1 + 4 * person + part.
enum Part { kHead = 0, kHair = 1, kNeck = 2, kTorso = 3 };

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c) {
  uint64_t x = (uint64_t(a) << 32 | b) ^ (uint64_t(c) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return uint32_t(x);
}
float Uniform(uint32_t a, uint32_t b, uint32_t c) { return Hash(a, b, c) * (1.0f / 4294967296.0f); }

float Smooth(float x) {
  x = std::clamp(x, 0.0f, 1.0f);
  return x * x * (3 - 2 * x);
}

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

struct Hit {
  float t = std::numeric_limits<float>::max();
  int code = 0;      // 0 nothing / wall, else 1 + 4 * person + part
  int kind = 0;      // 0 none, 1 wall, 2 ball, 3 person
  float local[3]{};  // hit point in the object's own frame
};

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

// The spheres a person's parts lie in, in the order they are tried; a ray that misses one
// misses what it holds.
enum Bound { kBody, kHeadBound, kNeckBound, kTorsoBound, kBounds };
constexpr float kBoundRadius[kBounds] = {450, 125, 75, 250};

struct Bounds {
  float centre[kBounds][3];
};

// Neck and torso follow the head's position but not its turn.
std::vector<Bounds> PersonBounds(const std::vector<PersonState>& persons) {
  constexpr float kOffset[kBounds][3] = {{0, 330, 60}, {0, 0, 0}, {0, 120, 20}, {0, 390, 70}};
  std::vector<Bounds> bounds(persons.size());
  for (size_t i = 0; i < persons.size(); ++i)
    for (int b = 0; b < kBounds; ++b)
      for (int k = 0; k < 3; ++k)
        bounds[i].centre[b][k] = persons[i].head[size_t(k)] + kOffset[b][k];
  return bounds;
}

// Bits of a pixel's region: 1 << (kBounds * person + bound) when a ray of it may pass within the
// bound. Persons past what the bits hold are always tried.
using Reach = uint32_t;
constexpr size_t kReachPersons = sizeof(Reach) * 8 / kBounds;

bool MayReach(Reach reach, size_t person, int bound) {
  return person >= kReachPersons || (reach >> (kBounds * person + size_t(bound)) & 1);
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

float Ellipse(float x, float y, float cx, float cy, float rx, float ry) {
  const float a = (x - cx) / rx, b = (y - cy) / ry;
  return a * a + b * b;
}

// Albedo of a face point in head coordinates, 0..255 RGB.
void FaceAlbedo(const PersonState& p, const float l[3], float rgb[3]) {
  rgb[0] = 224, rgb[1] = 172, rgb[2] = 140;
  if (l[2] > 0) return;
  const float smile = p.expression[0], open = p.expression[1], brow = p.expression[2],
              blink = p.expression[3];
  const float x = l[0], y = l[1];
  for (float side : {-32.0f, 32.0f}) {
    const float eye_h = 7 * (1 - 0.9f * blink);
    if (Ellipse(x, y, side, -12, 14, eye_h) < 1) {
      const bool iris = Ellipse(x, y, side, -12, 6, 6) < 1;
      rgb[0] = iris ? 70 : 235, rgb[1] = iris ? 45 : 230, rgb[2] = iris ? 30 : 225;
      if (blink > 0.5f) rgb[0] = 200, rgb[1] = 150, rgb[2] = 125;
    }
    if (std::fabs(x - side) < 18 && std::fabs(y - (-32 - 8 * brow)) < 3) {
      rgb[0] = 80, rgb[1] = 55, rgb[2] = 35;
    }
  }
  if (std::fabs(x) < 24 + 3 * smile) {
    const float u = x / 24, centre = 42 - smile * 6 * u * u + 7 * open;
    const float half = 3.5f + 7 * open;
    const float dy = std::fabs(y - centre);
    if (dy < half * (1 - 0.5f * u * u)) {
      const bool inner = dy < 7 * open * (1 - u * u);
      rgb[0] = inner ? 60 : 180, rgb[1] = inner ? 20 : 70, rgb[2] = inner ? 25 : 75;
    }
  }
  if (Ellipse(x, y, 0, 14, 9, 12) < 1) rgb[0] -= 12, rgb[1] -= 14, rgb[2] -= 12;
}

void Normal(const Hit& hit, const PersonState* person, float n[3]) {
  if (hit.kind == 1) {
    n[0] = 0, n[1] = 0, n[2] = -1;
    return;
  }
  const float* r = kHeadRadii;
  static const float neck_r[3] = {48, 75, 48}, torso_r[3] = {210, 250, 120},
                     ball_r[3] = {160, 160, 160};
  float l[3] = {hit.local[0], hit.local[1], hit.local[2]};
  const int part = hit.kind == 3 ? (hit.code - 1) % 4 : -1;
  if (hit.kind == 2) r = ball_r;
  if (part == kHair) {
    r = kHairRadii;
    for (int i = 0; i < 3; ++i) l[i] -= kHairOffset[i];
  }
  if (part == kNeck) r = neck_r;
  if (part == kTorso) r = torso_r;
  float g[3] = {l[0] / (r[0] * r[0]), l[1] / (r[1] * r[1]), l[2] / (r[2] * r[2])};
  if (part == kHead || part == kHair) {
    const float* m = person->rotation.data();
    const float c[3] = {m[0] * g[0] + m[1] * g[1] + m[2] * g[2],
                        m[3] * g[0] + m[4] * g[1] + m[5] * g[2],
                        m[6] * g[0] + m[7] * g[1] + m[8] * g[2]};
    g[0] = c[0], g[1] = c[1], g[2] = c[2];
  }
  const float len = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
  n[0] = g[0] / len, n[1] = g[1] / len, n[2] = g[2] / len;
}

void Shade(const std::vector<PersonState>& persons, const Hit& hit, uint32_t noise, float light,
           uint8_t* bgr) {
  float rgb[3] = {0, 0, 0};
  const PersonState* person = nullptr;
  if (hit.kind == 1) {
    // Brick wall: mortar every 80 mm in height and 240 mm along, rows offset by half a brick.
    const float x = hit.local[0] + 5000, y = hit.local[1] + 5000;
    const int row = int(y / 80);
    const float bx = std::fmod(x + (row % 2) * 120, 240.0f), by = std::fmod(y, 80.0f);
    const bool mortar = bx < 10 || by < 10;
    const float tone = 0.85f + 0.3f * Uniform(row, int((x + (row % 2) * 120) / 240), 7);
    rgb[0] = mortar ? 200 : 170 * tone, rgb[1] = mortar ? 195 : 95 * tone,
    rgb[2] = mortar ? 185 : 70 * tone;
  } else if (hit.kind == 2) {
    const bool stripe = std::fmod(std::fabs(hit.local[1]) + 400, 80.0f) < 40;
    rgb[0] = stripe ? 60 : 230, rgb[1] = stripe ? 170 : 220, rgb[2] = stripe ? 70 : 80;
  } else if (hit.kind == 3) {
    const int index = (hit.code - 1) / 4, part = (hit.code - 1) % 4;
    person = &persons[index];
    if (part == kHead) {
      if (person->painted_face) {
        FaceAlbedo(*person, hit.local, rgb);
      } else {
        rgb[0] = 224, rgb[1] = 172, rgb[2] = 140;
      }
    } else if (part == kHair) {
      rgb[0] = 70, rgb[1] = 45, rgb[2] = 28;
    } else if (part == kNeck) {
      rgb[0] = 214, rgb[1] = 162, rgb[2] = 132;
    } else {
      rgb[0] = index == 0 ? 40 : 160, rgb[1] = index == 0 ? 90 : 50, rgb[2] = index == 0 ? 165 : 45;
    }
  }
  float s = 0.25f;
  if (hit.kind != 0) {
    float n[3];
    Normal(hit, person, n);
    static const float l[3] = {-0.37f, -0.56f, -0.74f};  // towards the light, up and left
    s = 0.35f + 0.65f * std::max(0.0f, n[0] * l[0] + n[1] * l[1] + n[2] * l[2]);
  }
  const float grain = ((noise & 0xff) / 255.0f - 0.5f) * 4;
  for (int c = 0; c < 3; ++c) {
    const float v = rgb[2 - c] * s * light + grain;
    bgr[c] = uint8_t(std::clamp(v, 0.0f, 255.0f));
  }
}

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

}  // namespace

int LandmarkCount() { return int(sizeof(kLandmarks) / sizeof(kLandmarks[0])); }

Scenario Scenario::Load(const std::string& file, std::string* error) {
  std::ifstream in(file);
  if (!in) {
    *error = "cannot open " + file;
    return Scenario{};
  }
  std::stringstream text;
  text << in.rdbuf();
  Scenario s = Parse(text.str(), error);
  if (!error->empty()) *error += " in " + file;
  return s;
}

Scenario Scenario::Parse(const std::string& text, std::string* error) {
  Scenario s;
  rapidjson::Document doc;
  doc.Parse(text.c_str());
  if (doc.HasParseError() || !doc.IsObject()) {
    *error = "invalid JSON";
    return s;
  }
  // A number the field cannot hold keeps the default: converting it would be undefined.
  auto number = [&](const char* key, auto* value) {
    using Field = std::remove_pointer_t<decltype(value)>;
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd() || !it->value.IsNumber()) return;
    const double d = it->value.GetDouble();
    if constexpr (std::is_integral_v<Field>) {
      if (!(d > double(std::numeric_limits<Field>::min()) - 1 &&
            d < double(std::numeric_limits<Field>::max()) + 1)) {
        return;
      }
    }
    *value = static_cast<Field>(d);
  };
  number("seed", &s.seed);
  number("version_major", &s.version_major);
  number("version_minor", &s.version_minor);
  number("frames", &s.frames);
  number("color_pitch_padding", &s.color_pitch_padding);
  number("period", &s.period);
  number("second_person_enter", &s.second_person_enter);
  number("second_person_leave", &s.second_person_leave);
  number("rename_every", &s.rename_every);
  number("lose_face_at", &s.lose_face_at);
  number("lose_face_frames", &s.lose_face_frames);
  number("dim_start", &s.dim_start);
  number("dim_end", &s.dim_end);
  number("close_at", &s.close_at);
  for (const char* key : {"paced", "fail_property_queries"}) {
    auto it = doc.FindMember(key);
    if (it != doc.MemberEnd() && it->value.IsBool())
      (std::string(key) == "paced" ? s.paced : s.fail_property_queries) = it->value.GetBool();
  }
  auto model = doc.FindMember("face_model");
  if (model != doc.MemberEnd() && model->value.IsString()) s.face_model = model->value.GetString();
  auto devices = doc.FindMember("devices");
  if (devices != doc.MemberEnd() && devices->value.IsArray()) {
    s.devices.clear();
    for (const auto& d : devices->value.GetArray())
      if (d.IsString()) s.devices.push_back(d.GetString());
  }
  auto depth_sizes = doc.FindMember("depth_sizes");
  if (depth_sizes != doc.MemberEnd() && depth_sizes->value.IsArray()) {
    std::vector<std::array<int32_t, 2>> sizes;
    for (const auto& d : depth_sizes->value.GetArray())
      if (d.IsArray() && d.Size() == 2 && d[0].IsInt() && d[1].IsInt() && d[0].GetInt() > 0 &&
          d[1].GetInt() > 0)
        sizes.push_back({d[0].GetInt(), d[1].GetInt()});
    if (!sizes.empty()) s.depth_sizes = sizes;
  }
  if (s.period <= 0) s.period = 24;
  // Rows never overlap.
  if (s.color_pitch_padding < 0) s.color_pitch_padding = 0;
  return s;
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

namespace {

// Per tile of the view, which bounds of which persons a ray of it may pass within. Generous by a
// milliradian, far more than the float tests' rounding: a ray it rules out misses for certain.
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

}  // namespace

std::shared_ptr<const View> ViewCache::Get(const Camera& lens, bool colour, WorkerPool& pool) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& view = views_[colour];
  if (!view || !view->camera.SameLens(lens))
    view = std::make_shared<const View>(lens, colour, pool);
  return view;
}

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

void Scene::Render(int32_t number, float exposure, Frame* f) const {
  f->number = number;
  Animate(number, &f->persons);
  const Scenario& s = scenario_;
  const double tm = std::fmod(number / 30.0, s.period);
  float light = 1;
  if (tm > s.dim_start && tm < s.dim_end) {
    const float ramp =
        std::min(Smooth(float(tm - s.dim_start) / 1.5f), Smooth(float(s.dim_end - tm) / 1.5f));
    light = 1 - 0.55f * ramp;
  }
  light *= exposure;

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
      min_u = std::min(min_u, m.u), max_u = std::max(max_u, m.u);
      min_v = std::min(min_v, m.v), max_v = std::max(max_v, m.v);
      out.landmarks.push_back(m);
    }
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
  static const float l[3] = {-0.37f, -0.56f, -0.74f};
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
