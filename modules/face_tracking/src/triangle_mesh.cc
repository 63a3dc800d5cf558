#include "face_tracking/triangle_mesh.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vantisol {
namespace {

// sscanf with the whole line consumed, so that a shorter face form never swallows a longer line.
template <typename... Args>
bool ScanAll(const std::string& line, const std::string& format, int count, Args*... args) {
  int used = 0;
  const std::string with_end = format + "%n";
  if (std::sscanf(line.c_str(), with_end.c_str(), args..., &used) != count || used == 0) {
    return false;
  }
  return std::all_of(line.begin() + used, line.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

}  // namespace

TriangleMesh::TriangleMesh(const TriangleMesh& other) { CopyFrom(other); }

TriangleMesh& TriangleMesh::operator=(const TriangleMesh& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

void TriangleMesh::CopyFrom(const TriangleMesh& other) {
  vertices = other.vertices;
  triangles = other.triangles;
  normals = other.normals;
  vertex_values = other.vertex_values;
  texture_indices.clear();
  normal_indices.clear();
  RebuildTopology();
}

void TriangleMesh::ParseObjLine(std::string line) {
  if (line.empty()) return;
  if (line[0] == 'v') {
    float x, y, z;
    if (ScanAll(line, "v %f %f %f", 3, &x, &y, &z)) {
      vertices.emplace_back(x, y, z);
    } else if (ScanAll(line, "vn %f %f %f", 3, &x, &y, &z)) {
      normals.emplace_back(x, y, z);
    }
    // Texture coordinates ("vt") are not kept.
    return;
  }
  if (line[0] != 'f') return;
  int v[4], t[4], n[4];
  auto add = [this](std::vector<int>& out, const int* i, bool quad) {
    out.insert(out.end(), {i[0] - 1, i[1] - 1, i[2] - 1});
    if (quad) out.insert(out.end(), {i[0] - 1, i[2] - 1, i[3] - 1});
  };
  if (ScanAll(line, "f %d %d %d", 3, &v[0], &v[1], &v[2])) {
    add(triangles, v, false);
  } else if (ScanAll(line, "f %d %d %d %d", 4, &v[0], &v[1], &v[2], &v[3])) {
    add(triangles, v, true);
  } else if (ScanAll(line, "f %i/%i %i/%i %i/%i", 6, &v[0], &t[0], &v[1], &t[1], &v[2], &t[2])) {
    add(triangles, v, false);
    add(texture_indices, t, false);
  } else if (ScanAll(line, "f %i//%i %i//%i %i//%i", 6, &v[0], &n[0], &v[1], &n[1], &v[2], &n[2])) {
    add(triangles, v, false);
    add(normal_indices, n, false);
  } else if (ScanAll(line, "f %i/%i/%i %i/%i/%i %i/%i/%i %i/%i/%i", 12, &v[0], &t[0], &n[0], &v[1],
                     &t[1], &n[1], &v[2], &t[2], &n[2], &v[3], &t[3], &n[3])) {
    add(triangles, v, true);
    add(texture_indices, t, true);
    add(normal_indices, n, true);
  } else if (ScanAll(line, "f %i/%i/%i %i/%i/%i %i/%i/%i", 9, &v[0], &t[0], &n[0], &v[1], &t[1],
                     &n[1], &v[2], &t[2], &n[2])) {
    add(triangles, v, false);
    add(texture_indices, t, false);
    add(normal_indices, n, false);
  }
}

void TriangleMesh::RebuildTopology() {
  normals.resize(vertices.size());
  vertex_values.assign(vertices.size(), 0);
  ComputeNormals();
  edges.clear();
  const int n = vertex_count();
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    for (int k = 0; k < 3; ++k) {
      const int a = triangles[t + k], b = triangles[t + (k + 1) % 3];
      edges.insert({std::min(a, b), std::max(a, b)});
    }
  }
  neighbours.assign(vertices.size(), {});
  for (const auto& [a, b] : edges) {
    if (a < 0 || b >= n) continue;
    neighbours[a].push_back(b);
    neighbours[b].push_back(a);
  }
}

void TriangleMesh::ComputeNormals() {
  normals.assign(vertices.size(), vec3::Zero());
  const int n = vertex_count();
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const int a = triangles[t], b = triangles[t + 1], c = triangles[t + 2];
    if (std::min({a, b, c}) < 0 || std::max({a, b, c}) >= n) continue;
    const vec3 normal = (vertices[b] - vertices[a]).cross(vertices[c] - vertices[a]);
    normals[a] += normal;
    normals[b] += normal;
    normals[c] += normal;
  }
  // A vertex that no (non-degenerate) triangle uses keeps the zero vector.
  for (vec3& normal : normals) {
    const float length = normal.norm();
    if (length > 0) normal /= length;
  }
}

vec3 TriangleMesh::Centroid() const {
  if (vertices.empty()) return vec3::Zero();
  vec3 sum = vec3::Zero();
  for (const vec3& v : vertices) sum += v;
  return sum / static_cast<float>(vertices.size());
}

void TriangleMesh::Scale(float x, float y, float z) {
  const vec3 factors(x, y, z);
  for (vec3& v : vertices) v = v.cwiseProduct(factors);
}

void TriangleMesh::Scale(const std::array<float, 3>& factors) {
  Scale(factors[0], factors[1], factors[2]);
}

void TriangleMesh::SetVertex(int i, vec3 p) {
  if (i >= 0 && i < vertex_count()) vertices[i] = p;
}

}  // namespace vantisol
