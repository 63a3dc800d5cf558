#include "opengl/shader.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <optional>

#include "gl_test.h"
#include "utils/utils.h"

using namespace gl;

namespace vantisol {
namespace {

const char kTwoSamplers[] = R"(#version 430
uniform sampler2D input_texture;
uniform sampler2D input_texture2;
uniform sampler2D unused_texture;
out vec4 color;
void main() {
  color = texture(input_texture, vec2(0.5)) + texture(input_texture2, vec2(0.5));
}
)";

GLint SamplerValue(const Shader& shader, const char* name) {
  GLint value = -1;
  glGetUniformiv(shader.program(), glGetUniformLocation(shader.program(), name), &value);
  return value;
}

TEST(ShaderTest, SamplerUnitsByFirstUse) {
  Shader shader(kTwoSamplers, kPassThroughVertexShader, "");
  test::LogCapture log;
  EXPECT_EQ(shader.GetTextureUnit("input_texture2"), 1);
  EXPECT_EQ(shader.GetTextureUnit("input_texture"), 2);
  EXPECT_EQ(SamplerValue(shader, "input_texture2"), 1);
  EXPECT_EQ(SamplerValue(shader, "input_texture"), 2);
  // A changed uniform shows that a repeated request does not set it again.
  glProgramUniform1i(shader.program(), glGetUniformLocation(shader.program(), "input_texture"), 7);
  EXPECT_EQ(shader.GetTextureUnit("input_texture"), 2);
  EXPECT_EQ(SamplerValue(shader, "input_texture"), 7);
  // The compiler removed the unused sampler: no unit, a warning per request.
  EXPECT_EQ(shader.GetTextureUnit("unused_texture"), -1);
  EXPECT_EQ(shader.GetTextureUnit("unused_texture"), -1);
  EXPECT_EQ(log.Count("WARNING Could not find uniform: unused_texture in shader."), 2);
  EXPECT_EQ(shader.GetTextureUnit("input_texture3"), -1);
}

TEST(ShaderTest, StatusReports) {
  test::LogCapture log;
  const std::string source = "#version 430\nvoid main() { nonsense; }\n";
  { Shader broken(source, kPassThroughVertexShader, ""); }
  EXPECT_EQ(log.CountPrefix("ERROR Shader compile error: "), 2);  // compile, then link
  EXPECT_EQ(log.Count("ERROR in shader: " + EscapeLineBreaks(source)), 1);
  EXPECT_EQ(log.Count("INFO CreateShaderProgramFromStrings"), 1);
}

TEST(ShaderTest, EmptySourcesFailTheirChecks) {
  test::LogCapture log;
  const GLuint program = Shader::CreateShaderProgramFromStrings("", "", "");
  glDeleteProgram(program);
  EXPECT_EQ(log.Count("FATAL Check failed: [!fragment_shader_string.empty()] "), 1);
  EXPECT_EQ(log.Count("FATAL Check failed: [!vertex_shader_string.empty()] "), 1);
}

TEST(ShaderTest, EnableAndDisable) {
  Shader first(kTwoSamplers, kPassThroughVertexShader, "");
  Shader second(kTwoSamplers, kPassThroughVertexShader, "");
  test::LogCapture log;
  GLint current = 0;
  {
    std::optional<ShaderInterface::Disabler> first_in_use(first.ScopedEnable());
    EXPECT_EQ(log.Count("WARNING Overwriting enabled shader..."), 0);
    const auto second_in_use = second.ScopedEnable();
    EXPECT_EQ(log.Count("WARNING Overwriting enabled shader..."), 1);
    // The first pass ends while the second one draws: the second keeps its program.
    first_in_use.reset();
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, GLint(second.program()));
  }
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(current, 0);
}

TEST(ShaderTest, UniformUploads) {
  const char source[] = R"(#version 430
uniform vec3 v3; uniform vec4 v4; uniform mat3 m3; uniform mat4 m4; uniform int i;
uniform float f; uniform ivec2 i2; uniform bool b; uniform int arr[3];
out vec4 color;
void main() {
  color = vec4(v3, 1) + v4 + vec4(m3[0], 0) + m4[1] + vec4(i + i2.x + arr[2]) + vec4(f)
          + vec4(b ? 1 : 0);
}
)";
  Shader shader(source, kPassThroughVertexShader, "");
  const GLuint p = shader.program();
  auto location = [p](const char* name) { return glGetUniformLocation(p, name); };
  shader.SetUniform("v3", Eigen::Vector3f(1, 2, 3));
  shader.SetUniform("v4", Eigen::Vector4f(4, 5, 6, 7));
  Eigen::Matrix4f m4;
  m4 << 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16;
  shader.SetUniform("m4", m4, false);
  shader.SetUniform("m3", Eigen::Matrix3f(Eigen::Matrix3f::Identity()), false);
  shader.SetUniform("i", 5);
  shader.SetUniform("f", 2.5f);
  shader.SetUniform("i2", Eigen::Vector2i(8, 9));
  shader.SetUniform("b", true);
  shader.SetUniform("arr", std::vector<int>{1, 2, 3});
  float values[16];
  glGetUniformfv(p, location("v3"), values);
  EXPECT_EQ(values[2], 3.0f);
  glGetUniformfv(p, location("v4"), values);
  EXPECT_EQ(values[3], 7.0f);
  glGetUniformfv(p, location("m4"), values);
  // Column 0 of GL's matrix is (1, 5, 9, 13).
  EXPECT_EQ(values[1], 5.0f);
  EXPECT_EQ(values[4], 2.0f);
  glGetUniformfv(p, location("f"), values);
  EXPECT_EQ(values[0], 2.5f);
  GLint ints[3];
  glGetUniformiv(p, location("i2"), ints);
  EXPECT_EQ(ints[1], 9);
  glGetUniformiv(p, location("b"), ints);
  EXPECT_EQ(ints[0], 1);
  glGetUniformiv(p, glGetUniformLocation(p, "arr[2]"), ints);
  EXPECT_EQ(ints[0], 3);
  test::LogCapture log;
  shader.SetUniform("missing", 1);
  EXPECT_EQ(log.Count("WARNING Could not find uniform: missing in shader."), 1);
}

TEST(ViewportGuardTest, NestedGuardsRestoreInReverseOrder) {
  glViewport(1, 2, 30, 40);
  GLint viewport[4];
  {
    ViewportGuard outer(Size{100, 50});
    {
      ViewportGuard inner(7, 9);
      glGetIntegerv(GL_VIEWPORT, viewport);
      EXPECT_EQ(viewport[2], 7);
    }
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[2], 100);
    EXPECT_EQ(viewport[3], 50);
  }
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[0], 1);
  EXPECT_EQ(viewport[1], 2);
  EXPECT_EQ(viewport[2], 30);
  EXPECT_EQ(viewport[3], 40);
}

}  // namespace
}  // namespace vantisol
