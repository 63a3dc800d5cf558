#include "opengl/shader.h"

#include <glbinding/gl/gl.h>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

const std::string kPassThroughVertexShader = R"(#version 430
in vec4 position_in;
void main() {
  gl_Position = position_in;
}
)";

Shader::Shader(const std::string& fragment, const std::string& vertex, const std::string& geometry)
    : ShaderInterface(CreateShaderProgramFromStrings(fragment, vertex, geometry)) {}

GLuint Shader::CreateShaderProgramFromStrings(const std::string& fragment_shader_string,
                                              const std::string& vertex_shader_string,
                                              const std::string& geometry_shader_string) {
  LOG(INFO) << "CreateShaderProgramFromStrings";
  VANTISOL_CHECK(!fragment_shader_string.empty());
  VANTISOL_CHECK(!vertex_shader_string.empty());
  const GLuint program = glCreateProgram();
  AttachShader(glCreateShader(GL_FRAGMENT_SHADER), program, fragment_shader_string);
  AttachShader(glCreateShader(GL_VERTEX_SHADER), program, vertex_shader_string);
  if (!geometry_shader_string.empty()) {
    AttachShader(glCreateShader(GL_GEOMETRY_SHADER), program, geometry_shader_string);
  }
  LinkProgram(program);
  return program;
}

namespace {
const float kQuadVertices[12] = {-1, 1, 0, -1, -1, 0, 1, 1, 0, 1, -1, 0};
}  // namespace

ScreenQuad::ScreenQuad() {
  glGenVertexArrays(1, &vao_);
  glGenBuffers(1, &vbo_);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  glBufferData(GL_ARRAY_BUFFER, sizeof(kQuadVertices), kQuadVertices, GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

ScreenQuad::~ScreenQuad() {
  glDeleteBuffers(1, &vbo_);
  glDeleteVertexArrays(1, &vao_);
}

void ScreenQuad::Draw(GLint position_location) const {
  glBindVertexArray(vao_);
  glEnableVertexAttribArray(position_location);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  glVertexAttribPointer(position_location, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glDisableVertexAttribArray(position_location);
  glBindVertexArray(0);
}

ViewportGuard::ViewportGuard(Size size) : ViewportGuard(size.width, size.height) {}

ViewportGuard::ViewportGuard(int width, int height) {
  glGetIntegerv(GL_VIEWPORT, saved_);
  glViewport(0, 0, width, height);
}

ViewportGuard::~ViewportGuard() { glViewport(saved_[0], saved_[1], saved_[2], saved_[3]); }

}  // namespace vantisol
