#pragma once

#include <glbinding/gl/types.h>

#include <Eigen/Core>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vantisol {

// A linked GLSL program with program-addressed uniform uploads and sampler units handed out by
// first use (1, 2, 3, ...; unit 0 is never handed out).
class ShaderInterface {
 public:
  // Stops using the program when the pass ends (unless a pass inside it already took over).
  class Disabler {
   public:
    Disabler(Disabler&& other) noexcept : shader_(std::exchange(other.shader_, nullptr)) {}
    Disabler& operator=(Disabler&&) = delete;
    Disabler(const Disabler&) = delete;
    Disabler& operator=(const Disabler&) = delete;
    ~Disabler();

   private:
    friend class ShaderInterface;
    explicit Disabler(const ShaderInterface* shader) : shader_(shader) {}

    const ShaderInterface* shader_;
  };

  virtual ~ShaderInterface();
  ShaderInterface(const ShaderInterface&) = delete;
  ShaderInterface& operator=(const ShaderInterface&) = delete;

  static void AttachShader(gl::GLuint shader, gl::GLuint program, const std::string& source);
  static void LinkProgram(gl::GLuint program);

  // The only way to use the program: a pass keeps the guard while it draws, so no pass leaves its
  // program in use for the next one.
  [[nodiscard]] Disabler ScopedEnable() const;

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

 private:
  void Enable() const;
  void Disable() const;
};

}  // namespace vantisol
