#include "opengl/shader_interface.h"

#include <glbinding/gl/gl.h>

#include "utils/logging.h"
#include "utils/utils.h"

using namespace gl;

namespace vantisol {

namespace {

// One report for a compile (shader object) or a link (program, empty source).
template <typename GetIv, typename GetLog>
void ReportStatus(GLuint object, GLenum status_name, GetIv get_iv, GetLog get_log,
                  const std::string& source) {
  GLint status = 0;
  GLint length = 0;
  get_iv(object, status_name, &status);
  get_iv(object, GL_INFO_LOG_LENGTH, &length);
  if (length <= 0) return;
  std::string log(static_cast<size_t>(length), '\0');
  get_log(object, length, nullptr, &log[0]);
  const std::string text = EscapeLineBreaks(log.c_str());
  if (status != 0) {
    if (text.empty()) {
      LOG(INFO) << "Shader compiled";
      return;
    }
    LOG(WARNING) << "Shader compiled: " << text;
    if (!source.empty()) LOG(WARNING) << "in shader: " << EscapeLineBreaks(source);
  } else {
    LOG(ERROR) << "Shader compile error: " << text;
    if (!source.empty()) LOG(ERROR) << "in shader: " << EscapeLineBreaks(source);
  }
}

}  // namespace

ShaderInterface::~ShaderInterface() {
  if (program_ != 0) glDeleteProgram(program_);
  texture_units_.clear();
}

void ShaderInterface::AttachShader(GLuint shader, GLuint program, const std::string& source) {
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  ReportStatus(
      shader, GL_COMPILE_STATUS,
      [](GLuint s, GLenum name, GLint* value) { glGetShaderiv(s, name, value); },
      [](GLuint s, GLsizei size, GLsizei* length, char* log) {
        glGetShaderInfoLog(s, size, length, log);
      },
      source);
  glAttachShader(program, shader);
  glDeleteShader(shader);
}

void ShaderInterface::LinkProgram(GLuint program) {
  glLinkProgram(program);
  ReportStatus(
      program, GL_LINK_STATUS,
      [](GLuint p, GLenum name, GLint* value) { glGetProgramiv(p, name, value); },
      [](GLuint p, GLsizei size, GLsizei* length, char* log) {
        glGetProgramInfoLog(p, size, length, log);
      },
      std::string());
}

ShaderInterface::Disabler::~Disabler() {
  if (shader_ != nullptr) shader_->Disable();
}

ShaderInterface::Disabler ShaderInterface::ScopedEnable() const {
  Enable();
  return Disabler(this);
}

void ShaderInterface::Enable() const {
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  if (current != 0) LOG(WARNING) << "Overwriting enabled shader...";
  glUseProgram(program_);
}

void ShaderInterface::Disable() const {
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  if (current == static_cast<GLint>(program_)) glUseProgram(0);
}

int ShaderInterface::GetLocation(const std::string& name) const {
  const GLint location = glGetUniformLocation(program_, name.c_str());
  if (location < 0) LOG(WARNING) << "Could not find uniform: " << name << " in shader.";
  return location;
}

void ShaderInterface::SetUniform(const std::string& name, const Eigen::Vector3f& value) const {
  glProgramUniform3fv(program_, GetLocation(name), 1, value.data());
}

void ShaderInterface::SetUniform(const std::string& name, const Eigen::Vector4f& value) const {
  glProgramUniform4fv(program_, GetLocation(name), 1, value.data());
}

void ShaderInterface::SetUniform(const std::string& name, const Eigen::Matrix3f& value,
                                 bool transpose) const {
  glProgramUniformMatrix3fv(program_, GetLocation(name), 1, transpose ? GL_TRUE : GL_FALSE,
                            value.data());
}

void ShaderInterface::SetUniform(const std::string& name, const Eigen::Matrix4f& value,
                                 bool transpose) const {
  glProgramUniformMatrix4fv(program_, GetLocation(name), 1, transpose ? GL_TRUE : GL_FALSE,
                            value.data());
}

void ShaderInterface::SetUniform(const std::string& name, const std::vector<int>& value) const {
  glProgramUniform1iv(program_, GetLocation(name), static_cast<GLsizei>(value.size()),
                      value.data());
}

void ShaderInterface::SetUniform(const std::string& name, int value) const {
  glProgramUniform1i(program_, GetLocation(name), value);
}

void ShaderInterface::SetUniform(const std::string& name, float value) const {
  glProgramUniform1f(program_, GetLocation(name), value);
}

void ShaderInterface::SetUniform(const std::string& name, const Eigen::Vector2i& value) const {
  glProgramUniform2i(program_, GetLocation(name), value.x(), value.y());
}

void ShaderInterface::SetUniform(const std::string& name, bool value) const {
  SetUniform(name, value ? 1 : 0);
}

int ShaderInterface::GetTextureUnit(const std::string& name) {
  const int location = GetLocation(name);
  if (location < 0) return -1;
  const auto found = texture_units_.find(name);
  if (found != texture_units_.end()) return found->second;
  const int unit = static_cast<int>(texture_units_.size()) + 1;
  texture_units_[name] = unit;
  glProgramUniform1i(program_, location, unit);
  return unit;
}

}  // namespace vantisol
