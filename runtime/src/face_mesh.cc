#include "face_mesh.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace pxcsim {
namespace {

// Expression shapes of the model file in the simulation's order.
constexpr int kShapeOfExpression[FaceMesh::kExpressions] = {1, 0, 21, 38};

bool Inside(const std::vector<std::array<float, 2>>& polygon, float x, float y) {
  bool inside = false;
  for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const auto& a = polygon[i];
    const auto& b = polygon[j];
    if ((a[1] > y) != (b[1] > y) && x < (b[0] - a[0]) * (y - a[1]) / (b[1] - a[1]) + a[0])
      inside = !inside;
  }
  return inside;
}

float SegmentDistance(float px, float py, const std::array<float, 2>& a,
                      const std::array<float, 2>& b) {
  const float dx = b[0] - a[0], dy = b[1] - a[1];
  const float t =
      std::clamp(((px - a[0]) * dx + (py - a[1]) * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
  return std::hypot(px - a[0] - t * dx, py - a[1] - t * dy);
}

void Colour(FaceMesh* mesh, const std::vector<int32_t>& eye_vertices) {
  const size_t n = mesh->neutral.size();
  mesh->albedo.assign(n, {224, 172, 140});
  auto at = [&](int landmark) {
    const auto& v = mesh->neutral[size_t(mesh->landmarks[size_t(landmark)])];
    return std::array<float, 2>{v[0], v[1]};
  };
  std::vector<std::array<float, 2>> outer, inner;
  for (int k = 33; k <= 44; ++k) outer.push_back(at(k));
  for (int k = 45; k <= 52; ++k) inner.push_back(at(k));
  std::array<float, 2> eye_centre[2]{};
  for (int e = 0; e < 2; ++e) {
    for (int k = 0; k < 8; ++k) {
      eye_centre[e][0] += at(10 + 8 * e + k)[0] / 8;
      eye_centre[e][1] += at(10 + 8 * e + k)[1] / 8;
    }
  }
  for (size_t i = 0; i < n; ++i) {
    const float x = mesh->neutral[i][0], y = mesh->neutral[i][1];
    auto& c = mesh->albedo[i];
    if (y < -88) c = {70, 45, 28};  // hairline
    for (int b = 0; b < 2; ++b)
      for (int k = 0; k < 4; ++k)
        if (SegmentDistance(x, y, at(5 * b + k), at(5 * b + k + 1)) < 3.5f) c = {80, 55, 35};
    if (Inside(outer, x, y))
      c = Inside(inner, x, y) ? std::array<float, 3>{60, 20, 25}
                              : std::array<float, 3>{180, 70, 75};
  }
  for (int32_t v : eye_vertices) {
    if (v < 0 || size_t(v) >= n) continue;
    const float x = mesh->neutral[size_t(v)][0], y = mesh->neutral[size_t(v)][1];
    const auto& centre = eye_centre[x < 0 ? 0 : 1];
    mesh->albedo[size_t(v)] = std::hypot(x - centre[0], y - centre[1]) < 5.5f
                                  ? std::array<float, 3>{70, 45, 30}
                                  : std::array<float, 3>{235, 230, 225};
  }
}

std::vector<int32_t> Indices(const std::string& file) {
  std::ifstream in(file);
  std::vector<int32_t> values;
  for (int32_t v; in >> v;) values.push_back(v);
  return values;
}

}  // namespace

std::unique_ptr<FaceMesh> FaceMesh::Load(const std::string& folder, std::string* error) {
  auto mesh = std::make_unique<FaceMesh>();
  std::ifstream obj(folder + "/average_face_0.obj");
  std::ifstream shapes(folder + "/shape_avg.bs", std::ios::binary);
  std::ifstream landmarks(folder + "/landmarks.txt");
  if (!obj || !shapes || !landmarks) {
    *error = "no face model in " + folder;
    return nullptr;
  }
  for (std::string line; std::getline(obj, line);) {
    std::istringstream in(line);
    std::string tag;
    in >> tag;
    if (tag == "f") {
      std::array<int32_t, 3> t{};
      in >> t[0] >> t[1] >> t[2];
      for (auto& i : t) --i;
      mesh->triangles.push_back(t);
    }
  }
  int32_t header[3] = {};
  shapes.read(reinterpret_cast<char*>(header), sizeof(header));
  const int32_t count = header[0], vertices = header[1];
  if (!shapes || vertices <= 0 || count <= 38) {
    *error = "invalid blendshapes in " + folder;
    return nullptr;
  }
  auto read = [&](std::vector<std::array<float, 3>>* out) {
    out->resize(size_t(vertices));
    shapes.read(reinterpret_cast<char*>(out->data()), std::streamsize(out->size() * 12));
    for (auto& v : *out)
      for (float& c : v) c *= 1000;
  };
  read(&mesh->neutral);
  std::vector<std::array<float, 3>> shape;
  for (int s = 0; s < count && shapes; ++s) {
    read(&shape);
    for (int e = 0; e < kExpressions; ++e) {
      if (kShapeOfExpression[e] != s) continue;
      mesh->offsets[size_t(e)].resize(shape.size());
      for (size_t i = 0; i < shape.size(); ++i)
        for (int c = 0; c < 3; ++c)
          mesh->offsets[size_t(e)][i][size_t(c)] =
              shape[i][size_t(c)] - mesh->neutral[i][size_t(c)];
    }
  }
  for (const auto& o : mesh->offsets) {
    if (o.size() != size_t(vertices)) {
      *error = "truncated blendshapes in " + folder;
      return nullptr;
    }
  }
  for (std::string line; std::getline(landmarks, line);) {
    std::istringstream in(line);
    int32_t index = -1, vertex = -1;
    if (in >> index >> vertex) mesh->landmarks.push_back(vertex);
  }
  mesh->gap.assign(mesh->triangles.size(), false);
  const std::vector<int32_t> fill = Indices(folder + "/fill_triangles.txt");
  for (size_t i = 0; i + 2 < fill.size(); i += 3) {
    mesh->triangles.push_back({fill[i], fill[i + 1], fill[i + 2]});
    mesh->gap.push_back(true);
  }
  for (const auto& t : mesh->triangles) {
    for (int32_t i : t) {
      if (i < 0 || i >= vertices) {
        *error = "invalid triangle in " + folder;
        return nullptr;
      }
    }
  }
  if (mesh->landmarks.size() < 53) {
    *error = "too few landmarks in " + folder;
    return nullptr;
  }
  for (int32_t v : mesh->landmarks) {
    if (v < 0 || v >= vertices) {
      *error = "invalid landmark vertex in " + folder;
      return nullptr;
    }
  }
  Colour(mesh.get(), Indices(folder + "/eye_triangles.txt"));
  return mesh;
}

}  // namespace pxcsim
