#pragma once

#include <glbinding/gl/types.h>

#include <Eigen/Core>
#include <map>
#include <string>
#include <vector>

namespace vantisol {

// A linked GLSL program with program-addressed uniform uploads and sampler units handed out by
// first use (1, 2, 3, ...; unit 0 is never handed out).
class ShaderInterface {
 public:
  virtual ~ShaderInterface();
  ShaderInterface(const ShaderInterface&) = delete;
  ShaderInterface& operator=(const ShaderInterface&) = delete;

  static void AttachShader(gl::GLuint shader, gl::GLuint program, const std::string& source);
  static void LinkProgram(gl::GLuint program);

  void Enable() const;
  void Disable() const;

  int GetLocation(const std::string& name) const;
  void SetUniform(const std::string& name, const Eigen::Vector3f& value) const;
  void SetUniform(const std::string& name, const Eigen::Vector4f& value) const;
  void SetUniform(const std::string& name, const Eigen::Matrix3f& value, bool transpose) const;
  void SetUniform(const std::string& name, const Eigen::Matrix4f& value, bool transpose) const;
  void SetUniform(const std::string& name, const std::vector<int>& value) const;
  void SetUniform(const std::string& name, int value) const;
  void SetUniform(const std::string& name, float value) const;
  void SetUniform(const std::string& name, const Eigen::Vector2i& value) const;
  void SetUniform(const std::string& name, bool value) const;

  int GetTextureUnit(const std::string& name);

  gl::GLuint program() const { return program_; }

 protected:
  explicit ShaderInterface(gl::GLuint program) : program_(program) {}

  gl::GLuint program_ = 0;
  std::map<std::string, int> texture_units_;
};

}  // namespace vantisol
