#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pxcsim {

// The generated face model as the simulation draws it: neutral mask, four expression offsets,
// per-vertex albedo and the landmark vertices. Millimetres, x right, y down, facing -z.
struct FaceMesh {
  static constexpr int kExpressions = 4;  // smile, mouth open, brows up, eyes closed

  std::vector<std::array<float, 3>> neutral;
  std::array<std::vector<std::array<float, 3>>, kExpressions> offsets;
  std::vector<std::array<int32_t, 3>> triangles;  // front-facing toward -z
  std::vector<bool> gap;                          // the mouth gap between the lips
  std::vector<std::array<float, 3>> albedo;       // RGB 0..255
  std::vector<int32_t> landmarks;                 // vertex of each landmark

  // Null, with the reason, when the folder lacks the files or they do not parse.
  static std::unique_ptr<FaceMesh> Load(const std::string& folder, std::string* error);
};

}  // namespace pxcsim
