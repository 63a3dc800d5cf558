#include "scene_lighting.h"

#include <algorithm>
#include <cmath>

namespace pxcsim {
namespace {

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

}  // namespace

float SceneLight(const Scenario& s, int32_t number) {
  const double tm = std::fmod(number / 30.0, s.period);
  float light = 1;
  if (tm > s.dim_start && tm < s.dim_end) {
    const float ramp =
        std::min(Smooth(float(tm - s.dim_start) / 1.5f), Smooth(float(s.dim_end - tm) / 1.5f));
    light = 1 - 0.55f * ramp;
  }
  return light;
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
    const float* l = kLightDirection;
    s = 0.35f + 0.65f * std::max(0.0f, n[0] * l[0] + n[1] * l[1] + n[2] * l[2]);
  }
  const float grain = ((noise & 0xff) / 255.0f - 0.5f) * 4;
  for (int c = 0; c < 3; ++c) {
    const float v = rgb[2 - c] * s * light + grain;
    bgr[c] = uint8_t(std::clamp(v, 0.0f, 255.0f));
  }
}

}  // namespace pxcsim
