#include "opengl/depth_projection.h"

#include <glbinding/gl/gl.h>

#include <cstring>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

namespace {

// The projection runs as compute passes: llvmpipe shades vertices, runs geometry stages and sets
// up triangles on the calling thread alone, while compute work spreads over all its threads.
// Each invocation walks a column of quads of the source grid, each split along the same diagonal
// as a (i, i+w, i+1), (i+1, i+w, i+w+1) index list, and covers the target pixels whose centres
// its triangles hold as the rasteriser would: corners snapped to 1/256 pixel, a centre on an edge
// belonging to exactly one of the two triangles sharing that edge. The nearest depth per pixel
// is kept by an atomic minimum, then a second pass writes it into the target.
const char kRasterizer[] = R"(#version 430
layout(local_size_x = 64) in;
uniform usampler2D source_depth_texture;
layout(r32ui, binding = 0) uniform coherent uimage2D nearest_depth;
uniform mat3 source_cam_K;
uniform mat3 source_cam_R;
uniform vec3 source_cam_T;
uniform mat3 target_cam_K;
uniform mat3 target_cam_R;
uniform vec3 target_cam_T;
uniform int target_cam_w;
uniform int target_cam_h;
uniform float prune_thresh;
const float kTooClose = 0.3;
const double kSubpixels = 256.0;
const int kRows = 8;

// Source pixel (u, v) at depth z lands at z * pixel_to_target_eye * (u, v, 1) + source_origin in
// the target camera's eye space. Worked out once per column: inverting per vertex costs more than
// the rest of a vertex on llvmpipe.
mat3 pixel_to_target_eye;
vec3 source_origin;

void FoldCameras() {
  mat3 source_to_target = target_cam_R * inverse(source_cam_R);
  pixel_to_target_eye = source_to_target * inverse(source_cam_K);
  source_origin = target_cam_T - source_to_target * source_cam_T;
}

struct Vertex {
  vec3 eye;        // target eye space, metres
  dvec2 window;    // target pixel position in 1/256 pixel, whole numbers
};

Vertex Project(ivec2 pixel) {
  float z = float(texelFetch(source_depth_texture, pixel, 0).r) / 1000.0;
  Vertex vertex;
  vertex.eye = z * (pixel_to_target_eye * vec3(pixel, 1.0)) + source_origin;
  vec3 projected = target_cam_K * vertex.eye;
  vertex.window = round(dvec2(projected.xy / projected.z) * kSubpixels);
  return vertex;
}

// A triangle bridging a depth edge: stretched skin between foreground and background.
bool LongAndSkinny(Vertex a, Vertex b, Vertex c) {
  return distance(a.eye, b.eye) > prune_thresh || distance(b.eye, c.eye) > prune_thresh ||
         distance(c.eye, a.eye) > prune_thresh;
}

// Pixels without depth land at the source camera's centre, next to the target camera.
bool TooClose(Vertex a, Vertex b, Vertex c) {
  return a.eye.z < kTooClose || b.eye.z < kTooClose || c.eye.z < kTooClose;
}

// Twice the signed area of (a, b, p): positive with p left of a->b. Exact: the operands are whole
// numbers well inside a double's mantissa.
double Edge(dvec2 a, dvec2 b, dvec2 p) {
  return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

// On a tie the edge whose interior lies to its right or below owns the centre; the neighbour
// across the edge runs it the other way round and does not.
bool Inside(double edge, dvec2 a, dvec2 b) {
  dvec2 d = b - a;
  return edge > 0.0 || (edge == 0.0 && (d.y < 0.0 || (d.y == 0.0 && d.x < 0.0)));
}

void Cover(Vertex a, Vertex b, Vertex c) {
  if (LongAndSkinny(a, b, c) || TooClose(a, b, c)) return;
  double area = Edge(a.window, b.window, c.window);
  if (area == 0.0) return;
  if (area < 0.0) {
    Vertex t = b;
    b = c;
    c = t;
    area = -area;
  }
  dvec2 low = min(min(a.window, b.window), c.window);
  dvec2 high = max(max(a.window, b.window), c.window);
  // Pixel p has its centre at (p + 0.5) * 256.
  ivec2 first = ivec2(max(ceil((low - 128.0) / kSubpixels), dvec2(0.0)));
  ivec2 last = ivec2(min(floor((high - 128.0) / kSubpixels),
                         dvec2(target_cam_w - 1, target_cam_h - 1)));
  for (int y = first.y; y <= last.y; ++y) {
    for (int x = first.x; x <= last.x; ++x) {
      dvec2 p = dvec2(x, y) * kSubpixels + 128.0;
      double wa = Edge(b.window, c.window, p);
      double wb = Edge(c.window, a.window, p);
      double wc = Edge(a.window, b.window, p);
      if (!Inside(wa, b.window, c.window) || !Inside(wb, c.window, a.window) ||
          !Inside(wc, a.window, b.window)) {
        continue;
      }
      float z = float((wa * a.eye.z + wb * b.eye.z + wc * c.eye.z) / area);
      imageAtomicMin(nearest_depth, ivec2(x, y), uint(z * 1000.0));
    }
  }
}

// A column of kRows quads, each row's lower corners serving as the next row's upper ones.
void main() {
  ivec2 source_size = textureSize(source_depth_texture, 0);
  int x = int(gl_GlobalInvocationID.x);
  int first_row = int(gl_GlobalInvocationID.y) * kRows;
  if (x >= source_size.x - 1 || first_row >= source_size.y - 1) return;
  FoldCameras();
  int end_row = min(first_row + kRows, source_size.y - 1);
  Vertex top_left = Project(ivec2(x, first_row));
  Vertex top_right = Project(ivec2(x + 1, first_row));
  for (int y = first_row; y < end_row; ++y) {
    Vertex bottom_left = Project(ivec2(x, y + 1));
    Vertex bottom_right = Project(ivec2(x + 1, y + 1));
    Cover(top_left, bottom_left, top_right);
    Cover(top_right, bottom_left, bottom_right);
    top_left = bottom_left;
    top_right = bottom_right;
  }
}
)";

const char kResolver[] = R"(#version 430
layout(local_size_x = 8, local_size_y = 8) in;
layout(r32ui, binding = 0) uniform coherent uimage2D nearest_depth;
layout(r16ui, binding = 1) uniform writeonly uimage2D target_depth;
const uint kEmpty = 0xffffffffu;
void main() {
  ivec2 pixel = ivec2(gl_GlobalInvocationID.xy);
  if (any(greaterThanEqual(pixel, imageSize(target_depth)))) return;
  uint depth = imageLoad(nearest_depth, pixel).r;
  imageStore(target_depth, pixel, uvec4(depth == kEmpty ? 0u : min(depth, 65535u)));
  imageStore(nearest_depth, pixel, uvec4(kEmpty));
}
)";

class ComputeProgram : public ShaderInterface {
 public:
  explicit ComputeProgram(const char* source) : ShaderInterface(Build(source)) {}

 private:
  static GLuint Build(const char* source) {
    const GLuint program = glCreateProgram();
    AttachShader(glCreateShader(GL_COMPUTE_SHADER), program, source);
    LinkProgram(program);
    return program;
  }
};

// The work group sizes of the shaders.
const int kRasterizerColumns = 64;
const int kRows = 8;
const int kResolverSide = 8;

GLuint Groups(int count, int per_group) { return GLuint((count + per_group - 1) / per_group); }

}  // namespace

Eigen::Matrix3f ToMatrix(const std::array<float, 9>& values) {
  return Eigen::Map<const Eigen::Matrix<float, 3, 3, Eigen::RowMajor>>(values.data());
}

DepthProjection::DepthProjection()
    : rasterizer_(std::make_unique<ComputeProgram>(kRasterizer)),
      resolver_(std::make_unique<ComputeProgram>(kResolver)) {}

DepthProjection::~DepthProjection() = default;

void DepthProjection::Project(Calibration& source_calibration, Texture& depth_texture_source,
                              Calibration& target_calibration, Texture& depth_texture_target) {
  VANTISOL_CHECK(depth_texture_source.internal_format() == Image::Format::kGray16);
  VANTISOL_CHECK(depth_texture_target.internal_format() == Image::Format::kGray16);
  const Size source = depth_texture_source.size();
  const Size target = depth_texture_target.size();
  if (depth_texture_source.internal_format() != Image::Format::kGray16 ||
      depth_texture_target.internal_format() != Image::Format::kGray16 || source.empty() ||
      target.empty()) {
    return;
  }
  if (nearest_depth_.size() != target) {
    // Starts empty; every resolve leaves it empty again.
    Image empty(target, Image::Format::kGray32);
    std::memset(empty.data.get(), 0xff, size_t(target.width) * target.height * 4);
    nearest_depth_.Assign(empty);
  }
  auto nearest = nearest_depth_.ScopedBindImage(0, Texture::Access::ReadWrite);
  {
    const auto in_use = rasterizer_->ScopedEnable();
    // Eigen keeps matrices column by column, which is what GL reads untransposed.
    rasterizer_->SetUniform("source_cam_K", ToMatrix(source_calibration.K), false);
    rasterizer_->SetUniform("source_cam_R", ToMatrix(source_calibration.R), false);
    rasterizer_->SetUniform("source_cam_T", Eigen::Vector3f(source_calibration.T.data()));
    rasterizer_->SetUniform("target_cam_K", ToMatrix(target_calibration.K), false);
    rasterizer_->SetUniform("target_cam_R", ToMatrix(target_calibration.R), false);
    rasterizer_->SetUniform("target_cam_T", Eigen::Vector3f(target_calibration.T.data()));
    rasterizer_->SetUniform("target_cam_w", target.width);
    rasterizer_->SetUniform("target_cam_h", target.height);
    rasterizer_->SetUniform("prune_thresh", 0.1f);
    auto bound =
        depth_texture_source.ScopedBind(rasterizer_->GetTextureUnit("source_depth_texture"));
    glDispatchCompute(Groups(source.width - 1, kRasterizerColumns),
                      Groups(source.height - 1, kRows), 1);
  }
  glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  {
    const auto in_use = resolver_->ScopedEnable();
    auto output = depth_texture_target.ScopedBindImage(1, Texture::Access::WriteOnly);
    glDispatchCompute(Groups(target.width, kResolverSide), Groups(target.height, kResolverSide), 1);
  }
  // The target is read next by samplers, draws, copies or downloads.
  glMemoryBarrier(GL_ALL_BARRIER_BITS);
}

}  // namespace vantisol
