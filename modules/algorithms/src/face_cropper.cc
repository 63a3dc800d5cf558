#include "algorithms/face_cropper.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "face_cropper_internal.h"
#include "utils/logging.h"

namespace vantisol {

namespace algorithms {

namespace {

// Beyond 2^12 times the framing zoom a view shows a few input pixels; a view that still does not
// fit is left alone rather than zoomed on forever.
constexpr int kMaxDoublings = 12;

const Eigen::Vector3f kForward = Eigen::Vector3f::UnitZ();

bool Inside(const Eigen::Vector2f& p, Size input) {
  // Written so that a NaN coordinate counts as outside.
  return p.x() >= 0 && p.x() <= input.width && p.y() >= 0 && p.y() <= input.height;
}

bool Inside(const std::vector<Eigen::Vector2f>& outline, Size input) {
  return std::all_of(outline.begin(), outline.end(),
                     [&](const Eigen::Vector2f& p) { return Inside(p, input); });
}

// The angle between two unit directions, safe against dot products a rounding step past ±1.
float AngleBetween(const Eigen::Vector3f& a, const Eigen::Vector3f& b) {
  return std::acos(std::clamp(a.dot(b), -1.0f, 1.0f));
}

Transformation WithScale(const Transformation& t, float scale) {
  Transformation r = t;
  r.set_scale(scale);
  r.UpdateMatrix();
  return r;
}

}  // namespace

Eigen::Quaternionf RotationBetween(const Eigen::Vector3f& u, const Eigen::Vector3f& v) {
  const Eigen::Vector3f a = v.cross(u);
  const float kTiny = 1e-7f;
  if (a.norm() < kTiny) return Eigen::Quaternionf::Identity();
  const Eigen::Vector3f h = (u + v).normalized();
  const Eigen::Vector3f c = a.normalized().cross(h).normalized();
  const Eigen::Vector3f axis_raw = c.cross(kForward);
  // u - v along the optical axis: no axis in the image plane exists; the shortest arc is the
  // closest rotation.
  if (axis_raw.norm() < kTiny) return Eigen::Quaternionf::FromTwoVectors(u, v);
  const Eigen::Vector3f d = axis_raw.normalized();
  const float s = d.dot(u);
  return Eigen::Quaternionf::FromTwoVectors(u - s * d, v - s * d);
}

Transformation GetStuckMapping(const Transformation& current_transform,
                               const Transformation& new_transform, float max_angle,
                               float max_scale_deviation) {
  VANTISOL_CHECK(current_transform.input_K().isApprox(new_transform.input_K()));
  VANTISOL_CHECK(current_transform.input_resolution() == new_transform.input_resolution());
  VANTISOL_CHECK(current_transform.output_resolution() == new_transform.output_resolution());
  const Eigen::Vector3f a = current_transform.rotation() * kForward;
  const Eigen::Vector3f b = new_transform.rotation() * kForward;
  const float angle = std::acos(std::clamp(a.dot(b), 0.0f, 1.0f));
  Eigen::Quaternionf rotation = current_transform.rotation();
  if (angle > max_angle) {
    const Eigen::Vector3f axis = b.cross(a);
    Eigen::Vector3f d = b;
    if (axis.norm() > 0) d = Eigen::AngleAxisf(max_angle, axis.normalized()) * b;
    rotation = RotationBetween(kForward, d);
  }
  const float current_scale = current_transform.scale();
  const float new_scale = new_transform.scale();
  float scale = current_scale;
  if (std::fabs(current_scale / new_scale - 1) > max_scale_deviation) {
    const float sign = current_scale < new_scale ? -1.0f : 1.0f;
    scale = (1 + sign * max_scale_deviation) * new_scale;
  }
  return Transformation(current_transform.input_K(), current_transform.input_resolution(),
                        current_transform.output_resolution(), rotation, scale);
}

Transformation ComputeTarget(const PixelBox& box, Size tile_size, Size input_size,
                             const Eigen::Matrix3f& K, float top, float side, float bottom) {
  const int w = box.max().x() - box.min().x();
  const int h = box.max().y() - box.min().y();
  const int left = static_cast<int>(w * side);
  const int above = static_cast<int>(h * top);
  const int below = static_cast<int>(h * bottom);
  Eigen::Vector2i min = box.min() - Eigen::Vector2i(left, above);
  Eigen::Vector2i max = box.max() + Eigen::Vector2i(left, below);
  const int padded_height = max.y() - min.y();
  const float tile_aspect = static_cast<float>(tile_size.width) / tile_size.height;
  const float face_aspect = static_cast<float>(w) / h;
  if (tile_aspect > face_aspect) {
    const int width = static_cast<int>(padded_height * tile_aspect / face_aspect);
    min.x() -= ((min.x() - max.x()) + width) / 2;
    max.x() = min.x() + width;
  } else {
    const int height = static_cast<int>(padded_height * face_aspect / tile_aspect);
    min.y() -= ((min.y() - max.y()) + height) / 2;
    max.y() = min.y() + height;
  }
  return Transformation(K, input_size, tile_size, PixelBox(min, max));
}

bool OutlineInside(const Transformation& t) {
  return Inside(t.InputOutline(), t.input_resolution());
}

bool FitInside(Transformation& t) {
  const Size input = t.input_resolution();
  const std::vector<Eigen::Vector2f> outline = t.InputOutline();
  if (Inside(outline, input)) return true;

  const float right = static_cast<float>(input.width - 2);
  const float bottom = static_cast<float>(input.height - 2);
  const Eigen::Vector2f inner[4] = {{1, 1}, {right, 1}, {right, bottom}, {1, bottom}};
  Transformation unturned = t;
  unturned.SetRotation(Eigen::Quaternionf::Identity());
  const std::vector<Eigen::Vector2f> unturned_outline = unturned.InputOutline();
  const Eigen::Matrix3f& K = t.input_K();
  const Eigen::Matrix3f k_inv = K.inverse();
  auto ray = [&](float x, float y) { return Eigen::Vector3f(k_inv * Eigen::Vector3f(x, y, 1)); };
  const Eigen::Vector3f view = t.rotation() * kForward;

  bool found = false;
  float best_cost = std::numeric_limits<float>::infinity();
  Transformation best;
  auto consider = [&](const Eigen::Quaternionf& rotation) {
    Transformation candidate = t;
    candidate.SetRotation(rotation);
    if (!Inside(candidate.InputOutline(), input)) return;
    const float cost = std::fabs(AngleBetween(candidate.rotation() * kForward, view));
    if (cost < best_cost) {
      best_cost = cost;
      best = candidate;
      found = true;
    }
  };

  for (int i = 0; i < 4; ++i) {
    const Eigen::Vector2f& p = outline[i];
    if (Inside(p, input)) continue;
    const Eigen::Vector3f from = ray(unturned_outline[i].x(), unturned_outline[i].y()).normalized();
    const bool beyond_left = p.x()<1, beyond_right = p.x()> right;
    const bool beyond_top = p.y()<1, beyond_bottom = p.y()> bottom;
    const bool beyond_corner[4] = {beyond_left && beyond_top, beyond_right && beyond_top,
                                   beyond_right && beyond_bottom, beyond_left && beyond_bottom};
    if (beyond_corner[i])
      consider(RotationBetween(from, ray(inner[i].x(), inner[i].y()).normalized()));

    const Eigen::Vector3f corner_ray = ray(p.x(), p.y());
    const float u = corner_ray.x() / corner_ray.z(), v = corner_ray.y() / corner_ray.z();
    const Eigen::Vector3f corner_direction = Eigen::Vector3f(u, v, 1).normalized();
    // Yaw: turn the corner's horizontal view angle onto a left or right border column.
    const float yaw = std::atan2(u, 1.0f);
    for (float x_border : {1.0f, right}) {
      const Eigen::Vector3f border = ray(x_border, K(1, 2));
      const float border_yaw = std::atan2(border.x() / border.z(), 1.0f);
      if (border_yaw * yaw < 0) continue;
      const Eigen::Vector3f d =
          Eigen::AngleAxisf(border_yaw - yaw, Eigen::Vector3f::UnitY()) * corner_direction;
      consider(RotationBetween(from, d));
    }
    // Pitch: likewise onto the top or bottom border row.
    const float pitch = std::atan2(v, 1.0f);
    for (float y_border : {1.0f, bottom}) {
      const Eigen::Vector3f border = ray(K(0, 2), y_border);
      const float border_pitch = std::atan2(border.y() / border.z(), 1.0f);
      if (border_pitch * pitch < 0) continue;
      const Eigen::Vector3f d =
          Eigen::AngleAxisf(pitch - border_pitch, Eigen::Vector3f::UnitX()) * corner_direction;
      consider(RotationBetween(from, d));
    }
  }
  if (!found) return false;
  t = best;
  return true;
}

Transformation ZoomInside(const Transformation& t, int steps) {
  Transformation r = t;
  const float s0 = t.scale();
  float s = s0;
  int doublings = 0;
  while (!FitInside(r)) {
    if (doublings++ == kMaxDoublings) return t;
    s *= 2;
    r = WithScale(t, s);
  }
  if (s != s0) {
    float lo = s0, hi = s;
    for (int i = 0; i < steps; ++i) {
      const float mid = (lo + hi) / 2;
      r = WithScale(t, mid);
      if (FitInside(r)) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    r = WithScale(t, hi);
    FitInside(r);
  }
  return r;
}

Transformation SmoothTransformation(FaceSmoother& smoother, const Transformation& value,
                                    int64_t time_ns) {
  const float alpha = smoother.alpha.GetAlpha(time_ns);
  if (alpha == 1.0f) {
    smoother.smoothed_ = value;
  } else {
    smoother.smoothed_ = utils::Interpolate(smoother.smoothed_, value, alpha);
  }
  return smoother.smoothed_;
}

}  // namespace algorithms

using namespace algorithms;

struct FaceCropper::FaceState {
  FaceState(int id, float time_constant) : smoother_(time_constant), face_id_(id) {}

  bool reset_ = true;
  FaceSmoother smoother_;
  int face_id_;
  PixelBox box_;
  Transformation target_;
  Transformation stuck_;
  Transformation valid_;
};

namespace {

bool Usable(const Transformation& t) {
  return t.matrix().allFinite() && std::isfinite(t.scale()) && t.scale() > 0 &&
         t.input_resolution() != Size{} && t.output_resolution() != Size{};
}

}  // namespace

FaceCropper::FaceCropper()
    : faces_(std::make_unique<std::vector<FaceState>>()),
      top_padding_(0.75f),
      side_padding_(0.23f),
      bottom_padding_(0.7f),
      time_constant_(0.525f),
      max_angle_(0.043f),
      max_scale_deviation_(0.08f),
      bisection_steps_(20) {}

FaceCropper::~FaceCropper() = default;

std::vector<CropTile> FaceCropper::Update(const CameraImage& color, std::map<int, FaceData> faces,
                                          Size output_size) {
  input_size_ = color.size;
  // A box under a pixel has no aspect and no area to frame; such a face is not framed.
  for (auto it = faces.begin(); it != faces.end();) {
    const Rectangle& r = it->second.rect;
    it = r.width < 1 || r.height < 1 ? faces.erase(it) : std::next(it);
  }
  std::vector<FaceState>& states = *faces_;
  const size_t earlier_count = states.size();
  for (const auto& [id, face] : faces) {
    const bool known = std::any_of(states.begin(), states.end(),
                                   [id = id](const FaceState& s) { return s.face_id_ == id; });
    if (!known) states.emplace_back(id, time_constant_);
  }
  states.erase(std::remove_if(states.begin(), states.end(),
                              [&](const FaceState& s) { return faces.count(s.face_id_) == 0; }),
               states.end());
  for (FaceState& state : states) {
    const Rectangle& r = faces.at(state.face_id_).rect;
    state.box_ =
        PixelBox(Eigen::Vector2i(r.x, r.y), Eigen::Vector2i(r.x + r.width, r.y + r.height));
  }
  if (states.empty()) return {};
  if (states.size() != earlier_count) {
    for (FaceState& state : states) state.reset_ = true;
  }
  // Ties in the centre are broken by id, so that two faces one above the other keep their tiles.
  std::sort(states.begin(), states.end(), [](const FaceState& a, const FaceState& b) {
    const int ca = (a.box_.min().x() + a.box_.max().x()) / 2;
    const int cb = (b.box_.min().x() + b.box_.max().x()) / 2;
    return ca != cb ? ca < cb : a.face_id_ < b.face_id_;
  });

  const int n = static_cast<int>(states.size());
  const Size tile{output_size.width / n, output_size.height};
  if (tile.width < 1 || tile.height < 1) return {};
  const Eigen::Matrix3f K =
      Eigen::Map<const Eigen::Matrix<float, 3, 3, Eigen::RowMajor>>(color.calibration.K.data());

  std::vector<CropTile> tiles;
  tiles.reserve(states.size());
  for (int i = 0; i < n; ++i) {
    FaceState& state = states[i];
    const Transformation previous = state.smoother_.smoothed_;
    state.target_ = ComputeTarget(state.box_, tile, input_size_, K, top_padding_, side_padding_,
                                  bottom_padding_);
    if (!state.reset_) {
      state.stuck_ = GetStuckMapping(state.smoother_.smoothed_, state.target_, max_angle_,
                                     max_scale_deviation_);
      // A view of another camera or size cannot be blended with the old one: start afresh.
      const Transformation& s = state.smoother_.smoothed_;
      if (!s.input_K().isApprox(state.target_.input_K()) ||
          s.input_resolution() != state.target_.input_resolution() ||
          s.output_resolution() != state.target_.output_resolution()) {
        state.reset_ = true;
      } else {
        state.valid_ = ZoomInside(state.stuck_, bisection_steps_);
      }
    }
    if (state.reset_) {
      state.valid_ = ZoomInside(state.target_, bisection_steps_);
      state.stuck_ = state.valid_;
      state.smoother_.alpha.Reset();
      state.reset_ = false;
    }
    SmoothTransformation(state.smoother_, state.valid_, color.time_stamp);
    if (!Usable(state.smoother_.smoothed_)) {
      // A degenerate box or calibration: show the last good view, or the plain one, and start
      // this face afresh next time.
      state.smoother_.smoothed_ =
          Usable(previous) && previous.output_resolution() == tile &&
                  previous.input_resolution() == input_size_
              ? previous
              : ZoomInside(
                    Transformation(K, input_size_, tile, Eigen::Quaternionf::Identity(), 1.0f),
                    bisection_steps_);
      state.reset_ = true;
    }
    tiles.push_back(CropTile{Rectangle{i * tile.width, 0, tile.width, tile.height},
                             state.smoother_.smoothed_.matrix()});
  }
  return tiles;
}

}  // namespace vantisol
