#include "opengl/drawing_3d.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "gl_test.h"
#include "opengl/depthmap_renderer.h"

using namespace gl;

namespace vantisol {
namespace {

TEST(GridMeshTest, IndicesOfThreeByTwo) {
  EXPECT_EQ(GridMesh::Indices(3, 2), (std::vector<uint32_t>{0, 3, 1, 1, 3, 4, 1, 4, 2, 2, 4, 5}));
  GridMesh grid(3, 2);
  EXPECT_EQ(grid.index_count(), 12);
  GLint bytes = 0;
  glBindBuffer(GL_ARRAY_BUFFER, grid.vbo());
  glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
  EXPECT_EQ(bytes, 6 * 3 * 4);
  uint32_t vertices[18];
  glGetBufferSubData(GL_ARRAY_BUFFER, 0, sizeof(vertices), vertices);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  EXPECT_EQ(vertices[3 * 4 + 0], 1u);  // vertex 4 is (1, 1, 0)
  EXPECT_EQ(vertices[3 * 4 + 1], 1u);
  grid.Resize(10, 5);
  EXPECT_EQ(grid.index_count(), 6 * 9 * 4);
}

TEST(GLCameraTest, MatricesForTheNumbers) {
  Calibration calibration;
  calibration.K = {600, 0, 320, 0, 600, 240, 0, 0, 1};
  calibration.R = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  calibration.T = {0.1f, 0.2f, 0.3f};
  GLCamera camera;
  EXPECT_TRUE(camera.view.isIdentity());
  camera.Update({640, 480}, calibration);
  EXPECT_TRUE(camera.proj_persp.row(0).isApprox(Eigen::RowVector4f(1.875f, 0, 0, 0)));
  EXPECT_FLOAT_EQ(camera.view(0, 1), -1);
  EXPECT_FLOAT_EQ(camera.view(1, 3), 0.2f);
  // Near and far planes go to -1 and +1; pixel (u, v) to 2u/w - 1, 2v/h - 1.
  const auto ndc = [&](Eigen::Vector4f p) {
    const Eigen::Vector4f q = camera.proj_persp * p;
    return Eigen::Vector3f(q.head<3>() / q.w());
  };
  EXPECT_NEAR(ndc({0, 0, 0.01f, 1}).z(), -1, 1e-5);
  EXPECT_NEAR(ndc({0, 0, 5, 1}).z(), 1, 1e-5);
  const float z = 2, u = 100, v = 400;
  const Eigen::Vector3f at = ndc({(u - 320) * z / 600, (v - 240) * z / 600, z, 1});
  EXPECT_NEAR(at.x(), 2 * u / 640 - 1, 1e-5);
  EXPECT_NEAR(at.y(), 2 * v / 480 - 1, 1e-5);
  // l = -0.5333, r = 0.5333: the orthographic x scale is 2 / (r - l).
  EXPECT_NEAR(camera.proj_ortho(0, 0), 2 / (2 * 320 / 600.0), 1e-5);
  EXPECT_NEAR(camera.proj_ortho(0, 3), 0, 1e-6);
}

TEST(GLMeshTest, EmptyVectorsAreRefused) {
  GLMesh mesh;
  EXPECT_THROW(mesh.SetVertices({}), std::out_of_range);
  EXPECT_THROW(mesh.SetIndices({}), std::out_of_range);
  mesh.SetIndices({0, 1, 2});
  EXPECT_EQ(mesh.index_count(), 3);
  LineRenderer lines;
  EXPECT_THROW(lines.Draw({}, GLCamera(), Eigen::Vector4f::Ones()), std::out_of_range);
  GLint program = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  EXPECT_EQ(program, 0);
}

// An RGBA colour target with a depth buffer, bound while the object lives.
class RenderTarget {
 public:
  explicit RenderTarget(Size size) : viewport_(size) {
    colour_.Resize(size);
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &depth_);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, size.width, size.height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_.id(), 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  ~RenderTarget() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteRenderbuffers(1, &depth_);
  }
  Image Read() const { return colour_.Download(); }

 private:
  Texture colour_{Image::Format::kRGBA};
  ViewportGuard viewport_;
  GLuint framebuffer_ = 0;
  GLuint depth_ = 0;
};

TEST(DepthmapRendererTest, LitSurfaceWhereDepthExists) {
  const Size size{64, 48};
  Calibration calibration;
  calibration.K = {64, 0, 32, 0, 64, 24, 0, 0, 1};
  calibration.R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  Image depth_image(size, Image::Format::kGray16);
  auto* depth_values = reinterpret_cast<uint16_t*>(depth_image.data.get());
  // A wall at 1 m with no depth in the left third.
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) depth_values[y * size.width + x] = x < 20 ? 0 : 1000;
  Texture depth(depth_image), colour(Image(size, Image::Format::kRGBA));
  GLCamera camera;
  camera.Update(size, calibration);
  DepthmapRenderer renderer;
  Image result;
  {
    RenderTarget target(size);
    renderer.Draw(depth, calibration, colour, calibration, camera,
                  DepthmapRenderer::kRenderModeGeometry);
    result = target.Read();
  }
  EXPECT_EQ(renderer.normal_texture().size(), size);
  int lit = 0;
  for (int y = 2; y < size.height - 2; ++y)
    for (int x = 0; x < size.width; ++x) {
      const uint8_t* p = result.data.get() + (y * size.width + x) * 4;
      if (x < 18) {
        ASSERT_EQ(p[3], 0) << x << "," << y;  // nothing drawn without depth
      } else if (x > 22 && x < size.width - 2) {
        // Facing the camera: N = (0, 0, -1), L towards the eye, so N.L = 1 / |P|.
        const double px = (x + 0.5 - 32) / 64, py = (y + 0.5 - 24) / 64;
        const double n_dot_l = 1 / std::sqrt(px * px + py * py + 1);
        ASSERT_EQ(p[3], 255) << x << "," << y;
        ASSERT_NEAR(p[2], 255 * 0.2 + n_dot_l * 0.8 * 234, 3) << x << "," << y;
        ASSERT_NEAR(p[0], 255 * 0.2 + n_dot_l * 0.8 * 174, 3) << x << "," << y;
        ++lit;
      }
    }
  EXPECT_GT(lit, 1000);

  // A size change rebuilds the grid and the normals before drawing.
  Texture small_depth(Image(Size{16, 12}, Image::Format::kGray16));
  RenderTarget target(size);
  renderer.Draw(small_depth, calibration, colour, calibration, camera, 0);
  EXPECT_EQ(renderer.normal_texture().size(), (Size{16, 12}));
}

}  // namespace
}  // namespace vantisol
