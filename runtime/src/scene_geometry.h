#pragma once

// The scene's shapes and how rays meet them, shared by the renderer, the people and the lighting.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "scene.h"

namespace pxcsim {

constexpr float kPi = 3.14159265f;
constexpr float kFarZ = 3000.0f;
constexpr float kHeadRadii[3] = {78, 102, 94};
constexpr float kHairRadii[3] = {86, 110, 100};
constexpr float kHairOffset[3] = {0, -8, 8};

// Object codes in the colour picture: 0 background, 1 + 4 * person + part.
enum Part { kHead = 0, kHair = 1, kNeck = 2, kTorso = 3 };

// Deterministic noise and easing: the same seed and frame give the same picture.
inline uint32_t Hash(uint32_t a, uint32_t b, uint32_t c) {
  uint64_t x = (uint64_t(a) << 32 | b) ^ (uint64_t(c) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return uint32_t(x);
}
inline float Uniform(uint32_t a, uint32_t b, uint32_t c) {
  return Hash(a, b, c) * (1.0f / 4294967296.0f);
}

inline float Smooth(float x) {
  x = std::clamp(x, 0.0f, 1.0f);
  return x * x * (3 - 2 * x);
}

// Head to camera, row-major, from angles in degrees.
void Rotation(float yaw, float pitch, float roll, float* r);

struct Hit {
  float t = std::numeric_limits<float>::max();
  int code = 0;      // 0 nothing / wall, else 1 + 4 * person + part
  int kind = 0;      // 0 none, 1 wall, 2 ball, 3 person
  float local[3]{};  // hit point in the object's own frame
};

// The spheres a person's parts lie in, in the order they are tried; a ray that misses one
// misses what it holds.
enum Bound { kBody, kHeadBound, kNeckBound, kTorsoBound, kBounds };
constexpr float kBoundRadius[kBounds] = {450, 125, 75, 250};

struct Bounds {
  float centre[kBounds][3];
};

// Neck and torso follow the head's position but not its turn.
std::vector<Bounds> PersonBounds(const std::vector<PersonState>& persons);

// Bits of a pixel's region: 1 << (kBounds * person + bound) when a ray of it may pass within the
// bound. Persons past what the bits hold are always tried.
using Reach = uint32_t;
constexpr size_t kReachPersons = sizeof(Reach) * 8 / kBounds;

// Per tile of the view, which bounds of which persons a ray of it may pass within.
void TileReach(const View& view, const std::vector<PersonState>& persons,
               const std::vector<Bounds>& bounds, std::vector<Reach>* reach);

// The nearest person part along the ray, when nearer than what `hit` holds.
void TracePersons(const std::vector<PersonState>& persons, const std::vector<Bounds>& all_bounds,
                  Reach reach, const float o[3], const float d[3], Hit* hit);

}  // namespace pxcsim
