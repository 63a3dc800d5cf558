// Writes the face-model resources (mesh, triangle subsets, landmark matching and scheme, eye
// offsets, blendshapes) into one folder. The face is an analytic mask: a grid whose rows span the
// face from forehead to chin and whose columns fill an egg-shaped outline, with the depth made of
// a head ellipsoid plus smooth bumps and dents for brows, eye sockets, eyelids, nose, cheeks, lips
// and chin. Everything is a pure function of the constants below, so every build writes the same
// bytes.
//
// Model space: metres, x right, y down, the face looking along -z, origin near the head's centre.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kColumns = 71;
constexpr int kRows = 91;
constexpr double kTop = -0.112;     // forehead edge
constexpr double kBottom = 0.094;   // chin edge
constexpr double kCentreY = -0.01;  // the outline's widest row
constexpr double kHalfWidth = 0.075;
constexpr double kEyeX = 0.032, kEyeY = -0.02;
constexpr double kMouthY = 0.051;
constexpr int kExpressionShapes = 46;

struct Vec3 {
  double x, y, z;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }

double Gauss(double x, double y, double cx, double cy, double sx, double sy) {
  const double dx = (x - cx) / sx, dy = (y - cy) / sy;
  return std::exp(-0.5 * (dx * dx + dy * dy));
}

double SmoothStep(double e0, double e1, double x) {
  const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// A bump that is exactly zero outside the ellipse of radii (rx, ry).
double Window(double x, double y, double cx, double cy, double rx, double ry) {
  const double dx = (x - cx) / rx, dy = (y - cy) / ry;
  const double r = 1 - (dx * dx + dy * dy);
  return r > 0 ? r * r : 0;
}

double HalfWidth(double y) {
  const double d = (y - kCentreY) / (y < kCentreY ? kCentreY - kTop : kBottom - kCentreY);
  const double w = kHalfWidth * std::sqrt(std::max(0.06, 1 - 0.94 * d * d));
  return y > kCentreY ? w * (1 - 0.18 * d) : w;  // narrower jaw
}

double Depth(double x, double y) {
  const double ex = x / 0.09, ey = (y - kCentreY) / 0.13;
  double z = -0.095 * std::sqrt(std::max(0.0, 1 - ex * ex - ey * ey));
  for (double s : {-1.0, 1.0}) {
    z -= 0.007 * Gauss(x, y, s * kEyeX, -0.043, 0.016, 0.006);   // brow ridge
    z += 0.011 * Gauss(x, y, s * kEyeX, kEyeY, 0.014, 0.010);    // eye socket
    z -= 0.0065 * Gauss(x, y, s * kEyeX, kEyeY, 0.009, 0.0055);  // eyeball under the lids
    z -= 0.007 * Gauss(x, y, s * 0.047, 0.014, 0.015, 0.015);    // cheek
    z -= 0.008 * Gauss(x, y, s * 0.0135, 0.024, 0.005, 0.005);   // nose wing
  }
  z -= 0.012 * Gauss(x, y, 0, -0.012, 0.0065, 0.02);    // nose bridge
  z -= 0.024 * Gauss(x, y, 0, 0.017, 0.009, 0.011);     // nose tip
  z -= 0.0075 * Gauss(x, y, 0, 0.044, 0.019, 0.004);    // upper lip
  z -= 0.0065 * Gauss(x, y, 0, 0.058, 0.017, 0.0045);   // lower lip
  z += 0.003 * Gauss(x, y, 0, kMouthY, 0.021, 0.0015);  // lip parting
  z -= 0.008 * Gauss(x, y, 0, 0.082, 0.018, 0.01);      // chin
  return z;
}

struct Model {
  std::vector<Vec3> vertices;
  std::vector<std::array<int, 3>> triangles;
};

int Index(int row, int column) { return row * kColumns + column; }

Model BuildMesh() {
  Model m;
  for (int r = 0; r < kRows; ++r) {
    const double y = kTop + (kBottom - kTop) * r / (kRows - 1);
    for (int c = 0; c < kColumns; ++c) {
      const double x = HalfWidth(y) * (2.0 * c / (kColumns - 1) - 1);
      m.vertices.push_back({x, y, Depth(x, y)});
    }
  }
  // Wound so that (b - a) x (c - a) points toward the camera (-z): clockwise on screen under the
  // renderer's projection, which keeps image rows growing downward.
  for (int r = 0; r + 1 < kRows; ++r) {
    for (int c = 0; c + 1 < kColumns; ++c) {
      const int i = Index(r, c);
      m.triangles.push_back({i, i + kColumns, i + 1});
      m.triangles.push_back({i + 1, i + kColumns, i + kColumns + 1});
    }
  }
  return m;
}

int NearestVertex(const Model& m, double x, double y) {
  int best = 0;
  double best_d = 1e9;
  for (size_t i = 0; i < m.vertices.size(); ++i) {
    const double dx = m.vertices[i].x - x, dy = m.vertices[i].y - y;
    const double d = dx * dx + dy * dy;
    if (d < best_d) best_d = d, best = static_cast<int>(i);
  }
  return best;
}

struct Landmark {
  std::string name;
  int vertex;
};

// Image-left (smaller x) features first; see README.md for the full table.
std::vector<Landmark> BuildLandmarks(const Model& m) {
  std::vector<Landmark> l;
  auto add = [&](const std::string& name, double x, double y) {
    l.push_back({name, NearestVertex(m, x, y)});
  };
  for (const char* side : {"left", "right"}) {
    const double s = side[0] == 'l' ? -1 : 1;
    for (int k = 0; k < 5; ++k) {
      const double u = (k - 2) / 2.0;  // -1 .. 1 from image-left to image-right
      const double x = s * kEyeX + 0.02 * u;
      add(std::string(side) + "_brow_" + std::to_string(k), x, -0.046 + 0.004 * u * u);
    }
  }
  for (const char* side : {"left", "right"}) {
    const double cx = (side[0] == 'l' ? -1 : 1) * kEyeX;
    const std::string p = std::string(side) + "_eye_";
    add(p + "corner_left", cx - 0.012, kEyeY);
    add(p + "upper_0", cx - 0.0065, kEyeY - 0.0038);
    add(p + "upper_1", cx, kEyeY - 0.0048);
    add(p + "upper_2", cx + 0.0065, kEyeY - 0.0038);
    add(p + "corner_right", cx + 0.012, kEyeY);
    add(p + "lower_2", cx + 0.0065, kEyeY + 0.0038);
    add(p + "lower_1", cx, kEyeY + 0.0048);
    add(p + "lower_0", cx - 0.0065, kEyeY + 0.0038);
  }
  add("nose_bridge_top", 0, -0.03);
  add("nose_bridge_middle", 0, -0.008);
  add("nose_tip", 0, 0.017);
  add("nose_wing_left", -0.016, 0.022);
  add("nostril_left", -0.007, 0.029);
  add("nostril_right", 0.007, 0.029);
  add("nose_wing_right", 0.016, 0.022);
  add("mouth_corner_left", -0.025, kMouthY);
  add("upper_lip_outer_0", -0.017, 0.045);
  add("upper_lip_outer_1", -0.007, 0.0415);
  add("upper_lip_outer_2", 0, 0.0425);
  add("upper_lip_outer_3", 0.007, 0.0415);
  add("upper_lip_outer_4", 0.017, 0.045);
  add("mouth_corner_right", 0.025, kMouthY);
  add("lower_lip_outer_4", 0.017, 0.058);
  add("lower_lip_outer_3", 0.007, 0.0615);
  add("lower_lip_outer_2", 0, 0.062);
  add("lower_lip_outer_1", -0.007, 0.0615);
  add("lower_lip_outer_0", -0.017, 0.058);
  add("inner_mouth_corner_left", -0.02, kMouthY);
  add("upper_lip_inner_0", -0.008, 0.0485);
  add("upper_lip_inner_1", 0, 0.0485);
  add("upper_lip_inner_2", 0.008, 0.0485);
  add("inner_mouth_corner_right", 0.02, kMouthY);
  add("lower_lip_inner_2", 0.008, 0.0535);
  add("lower_lip_inner_1", 0, 0.0535);
  add("lower_lip_inner_0", -0.008, 0.0535);
  // Contour: the outline from the left temple round the chin to the right temple, evenly spaced.
  std::vector<int> outline;
  const int first_row = (kRows - 1) * 2 / 5;
  for (int r = first_row; r < kRows; ++r) outline.push_back(Index(r, 0));
  for (int c = 1; c < kColumns; ++c) outline.push_back(Index(kRows - 1, c));
  for (int r = kRows - 2; r >= first_row; --r) outline.push_back(Index(r, kColumns - 1));
  constexpr int kContour = 25;
  for (int k = 0; k < kContour; ++k) {
    const size_t at = (outline.size() - 1) * k / (kContour - 1);
    l.push_back({"contour_" + std::to_string(k), outline[at]});
  }
  return l;
}

// The seven expressions that the tracker keeps, as displacement fields.
using Field = std::function<Vec3(const Vec3&)>;

std::vector<Field> BasicExpressions() {
  const Field jaw_open = [](const Vec3& p) {
    const double t = SmoothStep(kMouthY - 0.002, kMouthY + 0.006, p.y);
    const double side = 1 - 0.6 * SmoothStep(0.045, 0.075, std::abs(p.x));
    return Vec3{0, 0.018 * t * side, 0.004 * t * side};
  };
  const Field smile = [](const Vec3& p) {
    Vec3 d{0, 0, 0};
    for (double s : {-1.0, 1.0}) {
      const double c = Gauss(p.x, p.y, s * 0.025, kMouthY, 0.012, 0.01);
      const double cheek = Gauss(p.x, p.y, s * 0.045, 0.02, 0.015, 0.015);
      d = d + Vec3{s * 0.005 * c, -0.006 * c - 0.003 * cheek, -0.002 * cheek};
    }
    return d;
  };
  const Field brows_up = [](const Vec3& p) {
    double b = 0;
    for (double s : {-1.0, 1.0}) b += Gauss(p.x, p.y, s * kEyeX, -0.047, 0.022, 0.012);
    return Vec3{0, -0.007 * b, 0};
  };
  // Mouth left and mouth right share the shift but each pulls its own corner back, so the two
  // stay distinguishable from each other and from the smile.
  const auto mouth_side = [](double s) {
    return Field([s](const Vec3& p) {
      const double m = Gauss(p.x, p.y, 0, kMouthY, 0.022, 0.009);
      const double corner = Gauss(p.x, p.y, s * 0.025, kMouthY, 0.008, 0.008);
      return Vec3{s * 0.006 * m, 0, 0.008 * corner};
    });
  };
  const Field pucker = [](const Vec3& p) {
    const double m = Gauss(p.x, p.y, 0, kMouthY, 0.022, 0.012);
    return Vec3{-0.35 * p.x * m, -0.3 * (p.y - kMouthY) * m, -0.008 * m};
  };
  const Field eyes_closed = [](const Vec3& p) {
    Vec3 d{0, 0, 0};
    for (double s : {-1.0, 1.0}) {
      const double w = Window(p.x, p.y, s * kEyeX, kEyeY, 0.02, 0.014);
      const double dy = p.y - (kEyeY + 0.001);
      d = d + Vec3{0, (dy < 0 ? -dy : -0.3 * dy) * w, -0.001 * w};
    }
    return d;
  };
  return {jaw_open, smile, brows_up, mouth_side(-1), mouth_side(1), pucker, eyes_closed};
}

constexpr std::array<int, 7> kKeptShapes = {0, 1, 21, 27, 28, 35, 38};

// File shape s: one of the seven expressions at full strength for the kept indices, otherwise a
// milder variant (0.25 to 0.75 of expression s mod 7) so that the file's other shapes exist.
Vec3 ShapeDelta(const std::vector<Field>& basics, int s, const Vec3& p) {
  for (size_t k = 0; k < kKeptShapes.size(); ++k)
    if (kKeptShapes[k] == s) return basics[k](p);
  return (0.25 + 0.25 * ((s / 7) % 3)) * basics[s % 7](p);
}

std::string FloatText(float v) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.9g", v);
  return text;
}

bool Write(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  if (!out) std::cerr << "cannot write " << path << "\n";
  return static_cast<bool>(out);
}

std::string TriangleList(const Model& m, const std::function<bool(const Vec3&)>& inside,
                         bool one_per_line) {
  std::string text;
  for (const auto& t : m.triangles) {
    if (!inside(m.vertices[t[0]]) || !inside(m.vertices[t[1]]) || !inside(m.vertices[t[2]]))
      continue;
    for (int k = 0; k < 3; ++k) {
      text += std::to_string(t[k]);
      text += one_per_line || k == 2 ? "\r\n" : " ";
    }
  }
  return text;
}

void AppendFloats(std::string& out, const std::vector<float>& values) {
  out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
}

void AppendInt(std::string& out, int32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <output folder>\n";
    return 2;
  }
  const std::string dir = argv[1];
  const Model m = BuildMesh();
  const std::vector<Landmark> landmarks = BuildLandmarks(m);
  bool ok = true;

  // Vertices go through float once, so the OBJ text and the binary file agree exactly.
  std::vector<float> neutral;
  for (const Vec3& v : m.vertices) {
    for (double c : {v.x, v.y, v.z}) neutral.push_back(static_cast<float>(c));
  }
  std::string obj = "# Vantisol average face, generated by generate_face_model\r\n";
  for (size_t i = 0; i < m.vertices.size(); ++i) {
    obj += "v " + FloatText(neutral[3 * i]) + " " + FloatText(neutral[3 * i + 1]) + " " +
           FloatText(neutral[3 * i + 2]) + "\r\n";
  }
  for (const auto& t : m.triangles) {
    obj += "f " + std::to_string(t[0] + 1) + " " + std::to_string(t[1] + 1) + " " +
           std::to_string(t[2] + 1) + "\r\n";
  }
  ok &= Write(dir + "/average_face_0.obj", obj);

  const auto front = [](const Vec3& p) {
    return std::abs(p.x) <= 0.86 * HalfWidth(p.y) && p.y > kTop + 0.01;
  };
  const auto mouth_gap = [](const Vec3& p) {
    const double dx = p.x / 0.0215, dy = (p.y - kMouthY) / 0.0036;
    return dx * dx + dy * dy <= 1;
  };
  const auto eyes = [](const Vec3& p) {
    for (double s : {-1.0, 1.0}) {
      const double dx = (p.x - s * kEyeX) / 0.0135, dy = (p.y - kEyeY) / 0.0062;
      if (dx * dx + dy * dy <= 1) return true;
    }
    return false;
  };
  ok &= Write(dir + "/front_triangles.txt", TriangleList(m, front, true));
  ok &= Write(dir + "/fill_triangles.txt", TriangleList(m, mouth_gap, false));
  ok &= Write(dir + "/eye_triangles.txt", TriangleList(m, eyes, true));

  std::string matching, scheme;
  for (size_t a = 0; a < landmarks.size(); ++a) {
    if (a < 53) matching += std::to_string(a) + " " + std::to_string(landmarks[a].vertex) + "\r\n";
    const Vec3& p = m.vertices[landmarks[a].vertex];
    scheme += std::to_string(a) + " " + std::to_string(landmarks[a].vertex) + " " +
              FloatText(static_cast<float>(p.x)) + " " + FloatText(static_cast<float>(p.y)) + " " +
              FloatText(static_cast<float>(p.z)) + " " + landmarks[a].name + "\n";
  }
  matching += "\r\n\r\n";
  ok &= Write(dir + "/matching_facewarehouse_mirrored.txt", matching);
  ok &= Write(dir + "/landmarks.txt", scheme);

  // Eye offsets raise the eyes and bring them slightly forward: the look moves up toward a camera
  // above the screen.
  std::string offsets;
  for (const Vec3& p : m.vertices) {
    double w = 0;
    for (double s : {-1.0, 1.0}) w += Window(p.x, p.y, s * kEyeX, kEyeY, 0.016, 0.009);
    offsets += FloatText(0) + " " + FloatText(static_cast<float>(-0.0025 * w) + 0.0f) + " " +
               FloatText(static_cast<float>(-0.0005 * w) + 0.0f) + "\r\n";
  }
  ok &= Write(dir + "/eye_offsets.txt", offsets);

  const std::vector<Field> basics = BasicExpressions();
  std::string bs;
  AppendInt(bs, kExpressionShapes);
  AppendInt(bs, static_cast<int32_t>(m.vertices.size()));
  AppendInt(bs, static_cast<int32_t>(m.triangles.size()));
  AppendFloats(bs, neutral);
  for (int s = 0; s < kExpressionShapes; ++s) {
    std::vector<float> shape;
    for (size_t i = 0; i < m.vertices.size(); ++i) {
      const Vec3 p{neutral[3 * i], neutral[3 * i + 1], neutral[3 * i + 2]};
      const Vec3 q = p + ShapeDelta(basics, s, p);
      for (double c : {q.x, q.y, q.z}) shape.push_back(static_cast<float>(c));
    }
    AppendFloats(bs, shape);
  }
  ok &= Write(dir + "/shape_avg.bs", bs);
  return ok ? 0 : 1;
}
