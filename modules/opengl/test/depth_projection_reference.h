#pragma once

// The depth projection worked out on the CPU in double precision, a person-like depth scene, and
// the figures that compare a GPU result with the reference. Shared by the projection's tests on
// constructed scenes and on simulated camera frames, and by its benchmark.

#include <Eigen/Core>
#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "utils/camera_image.h"

namespace vantisol {
namespace test {

// The target depth (mm, 0 where nothing lands) that the source depth grid's triangles give: the
// quad between pixels (x, y) and (x + 1, y + 1) split along its (x + 1, y)-(x, y + 1) diagonal;
// triangles with an edge longer than 0.1 m or a corner nearer than 0.3 m in the target camera
// dropped; a target pixel covered where its centre lies inside a triangle whose corners are
// snapped to 1/256 pixel (a centre on an edge shared by two triangles counted once); the depth
// interpolated linearly on the target image, truncated to whole millimetres; the nearest kept.
inline std::vector<uint16_t> ReferenceProjection(const Calibration& source,
                                                 const std::vector<uint16_t>& depth,
                                                 Size source_size, const Calibration& target,
                                                 Size target_size) {
  using Matrix = Eigen::Matrix<double, 3, 3, Eigen::RowMajor>;
  const auto matrix = [](const std::array<float, 9>& values) {
    return Eigen::Map<const Eigen::Matrix<float, 3, 3, Eigen::RowMajor>>(values.data())
        .cast<double>()
        .eval();
  };
  const auto vector = [](const std::array<float, 3>& values) {
    return Eigen::Vector3d(values[0], values[1], values[2]);
  };
  const Matrix source_K_inverse = matrix(source.K).inverse();
  const Matrix source_R_inverse = matrix(source.R).inverse();
  const Matrix target_K = matrix(target.K), target_R = matrix(target.R);
  struct Vertex {
    Eigen::Vector3d eye;
    Eigen::Vector2d window;  // 1/256 pixel
  };
  std::vector<Vertex> vertices(size_t(source_size.width) * source_size.height);
  for (int v = 0; v < source_size.height; ++v)
    for (int u = 0; u < source_size.width; ++u) {
      Vertex& vertex = vertices[size_t(v) * source_size.width + u];
      const double z = depth[size_t(v) * source_size.width + u] / 1000.0;
      const Eigen::Vector3d world =
          source_R_inverse *
          (source_K_inverse * Eigen::Vector3d(u * z, v * z, z) - vector(source.T));
      vertex.eye = target_R * world + vector(target.T);
      const Eigen::Vector3d projected = target_K * vertex.eye;
      vertex.window = (projected.head<2>() / projected.z() * 256).array().round();
    }

  const uint32_t kEmpty = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> nearest(size_t(target_size.width) * target_size.height, kEmpty);
  const auto edge = [](const Eigen::Vector2d& a, const Eigen::Vector2d& b,
                       const Eigen::Vector2d& p) {
    return (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
  };
  const auto inside = [&](const Eigen::Vector2d& a, const Eigen::Vector2d& b,
                          const Eigen::Vector2d& p) {
    const double e = edge(a, b, p);
    const Eigen::Vector2d d = b - a;
    return e > 0 || (e == 0 && (d.y() < 0 || (d.y() == 0 && d.x() < 0)));
  };
  const auto cover = [&](const Vertex* a, const Vertex* b, const Vertex* c) {
    for (const auto& [p, q] : {std::pair{a, b}, std::pair{b, c}, std::pair{c, a}})
      if ((p->eye - q->eye).norm() > 0.1) return;
    if (std::min({a->eye.z(), b->eye.z(), c->eye.z()}) < 0.3) return;
    double area = edge(a->window, b->window, c->window);
    if (area == 0) return;
    if (area < 0) {
      std::swap(b, c);
      area = -area;
    }
    const Eigen::Vector2d low = a->window.cwiseMin(b->window).cwiseMin(c->window);
    const Eigen::Vector2d high = a->window.cwiseMax(b->window).cwiseMax(c->window);
    const int x0 = std::max(0, int(std::ceil((low.x() - 128) / 256)));
    const int y0 = std::max(0, int(std::ceil((low.y() - 128) / 256)));
    const int x1 = std::min(target_size.width - 1, int(std::floor((high.x() - 128) / 256)));
    const int y1 = std::min(target_size.height - 1, int(std::floor((high.y() - 128) / 256)));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const Eigen::Vector2d p(x * 256.0 + 128, y * 256.0 + 128);
        if (!inside(b->window, c->window, p) || !inside(c->window, a->window, p) ||
            !inside(a->window, b->window, p))
          continue;
        const double z = (edge(b->window, c->window, p) * a->eye.z() +
                          edge(c->window, a->window, p) * b->eye.z() +
                          edge(a->window, b->window, p) * c->eye.z()) /
                         area;
        uint32_t& value = nearest[size_t(y) * target_size.width + x];
        value = std::min(value, uint32_t(z * 1000));
      }
  };
  const int w = source_size.width;
  for (int y = 0; y + 1 < source_size.height; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const Vertex* top_left = &vertices[size_t(y) * w + x];
      cover(top_left, top_left + w, top_left + 1);
      cover(top_left + 1, top_left + w, top_left + w + 1);
    }

  std::vector<uint16_t> result(nearest.size());
  for (size_t i = 0; i < nearest.size(); ++i)
    result[i] = nearest[i] == kEmpty ? 0 : uint16_t(std::min<uint32_t>(nearest[i], 65535));
  return result;
}

// A person (head and torso at about 1 m) before a wall at 2.2 m, as a depth camera sees it: a
// shadow band without depth beside the person, scattered dropouts and a few millimetres of noise.
// Variants move the person and draw new noise.
inline std::vector<uint16_t> PersonScene(Size size, int variant) {
  std::vector<uint16_t> values(size_t(size.width) * size.height);
  std::mt19937 random(uint32_t(variant + 1));
  std::uniform_int_distribution<int> noise(-3, 3);
  std::uniform_real_distribution<float> dropout(0, 1);
  const float sx = size.width / 640.f, sy = size.height / 480.f;
  const float cx = (300 + 12 * variant) * sx, head_y = 130 * sy, head_r = 48 * sx;
  const float shoulders_y = 190 * sy, torso_half = 120 * sx;
  const auto person = [&](float x, float y) -> float {
    const float hx = x - cx, hy = y - head_y;
    if (hx * hx + hy * hy < head_r * head_r)
      return 950 - 0.6f * std::sqrt(head_r * head_r - hx * hx - hy * hy) / sx;
    const float half = torso_half * std::min(1.f, 0.4f + (y - shoulders_y) / (60 * sy));
    if (y > shoulders_y && std::abs(x - cx) < half) return 1000 + 40 * std::pow(hx / half, 2.f);
    return 0;
  };
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      float depth = person(float(x), float(y));
      // The projector sits to the side: the wall just left of the person is in its shadow.
      if (depth == 0 && person(x + 14 * sx, float(y)) > 0) depth = -1;
      if (depth == 0) depth = 2200 + 0.5f * y / sy;
      const bool missing = depth < 0 || dropout(random) < 0.02f;
      values[size_t(y) * size.width + x] = missing ? 0 : uint16_t(depth + noise(random));
    }
  return values;
}

// Shares of the target's pixels where a result and the reference disagree.
struct ProjectionDifference {
  double coverage = 0;  // covered (non-zero) in one picture only
  double depth = 0;     // covered in both with different depths
  double over_1mm = 0;  // covered in both with depths more than 1 mm apart
  double covered = 0;   // covered in the reference: a scene that covers nothing tests nothing
};

inline ProjectionDifference Compare(const std::vector<uint16_t>& result,
                                    const std::vector<uint16_t>& reference) {
  size_t coverage = 0, depth = 0, over_1mm = 0, covered = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    covered += reference[i] != 0;
    if ((result[i] != 0) != (reference[i] != 0)) {
      ++coverage;
    } else if (result[i] != reference[i]) {
      ++depth;
      over_1mm += std::abs(int(result[i]) - int(reference[i])) > 1;
    }
  }
  const double n = double(reference.size());
  return {coverage / n, depth / n, over_1mm / n, covered / n};
}

inline std::ostream& operator<<(std::ostream& out, const ProjectionDifference& difference) {
  return out << "coverage " << difference.coverage * 100 << " %, depth " << difference.depth * 100
             << " %, over 1 mm " << difference.over_1mm * 100 << " %, covered "
             << difference.covered * 100 << " %";
}

}  // namespace test
}  // namespace vantisol
