#pragma once

// How the scene's surfaces look under its light.

#include <cstdint>
#include <vector>

#include "scene.h"
#include "scene_geometry.h"

namespace pxcsim {

constexpr float kLightDirection[3] = {-0.37f, -0.56f, -0.74f};  // towards the light, up and left

// The script's light level at a frame: 1 but while the room dims.
float SceneLight(const Scenario& scenario, int32_t number);

// The colour of what the ray hit, with the film grain of `noise`.
void Shade(const std::vector<PersonState>& persons, const Hit& hit, uint32_t noise, float light,
           uint8_t* bgr);

}  // namespace pxcsim
