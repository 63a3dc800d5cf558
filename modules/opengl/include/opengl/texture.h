#pragma once

#include <glbinding/gl/types.h>

#include "utils/camera_image.h"

namespace vantisol {

// A 2D texture that knows its size and pixel format. Its GL object is made at the first binding,
// and it is bound only through guards that undo the binding.
class Texture {
 public:
  enum Interpolation { Default = 0, Nearest = 1, Linear = 2 };
  enum class Access { ReadOnly = 0, WriteOnly = 1, ReadWrite = 2 };

  // Undoes one binding when it goes out of scope; an empty guard does nothing.
  class Unbinder {
   public:
    enum class Kind { kNone, kTextureUnit, kImageUnit };

    Unbinder() = default;
    Unbinder(Kind kind, gl::GLuint id, int unit) : kind_(kind), id_(id), unit_(unit) {}
    Unbinder(Unbinder&& other) noexcept;
    Unbinder& operator=(Unbinder&& other) noexcept;
    Unbinder(const Unbinder&) = delete;
    Unbinder& operator=(const Unbinder&) = delete;
    ~Unbinder();

    Kind kind() const { return kind_; }

   private:
    void Release();

    Kind kind_ = Kind::kNone;
    gl::GLuint id_ = 0;
    int unit_ = 0;
  };

  explicit Texture(Image::Format format = Image::Format::kInvalid);
  explicit Texture(const Image& image);
  ~Texture();
  // The GL name is owned: a texture moves, it is never copied.
  Texture(Texture&& other) noexcept;
  Texture& operator=(Texture&& other) noexcept;
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;

  Size size() const { return size_; }
  Image::Format internal_format() const { return format_; }
  gl::GLuint id() const { return id_; }
  int channels() const { return Image::channels(format_); }
  int interpolation() const { return interpolation_; }

  void Assign(const Image& image);
  void Resize(Size new_size, Image::Format format = Image::Format::kInvalid);
  Image Download(Image::Format format = Image::Format::kInvalid) const;
  void SetInterpolation(int mode);

  Unbinder ScopedBind(int unit) const;
  Unbinder ScopedBindImage(int unit, Access access) const;

 private:
  void Bind(int unit) const;
  void BindImage(int unit, Access access) const;
  void UpdateInterpolation() const;

  Size size_;
  mutable gl::GLuint id_ = 0;
  Image::Format format_ = Image::Format::kInvalid;
  mutable int interpolation_ = Default;  // an integer format may turn Linear into Default
};

// The GL counterparts of an image format; an unsupported format logs FATAL and yields 0.
gl::GLenum ToOpenGl(Image::Format format);
gl::GLenum ToOpenGlFormat(Image::Format format);
gl::GLenum ToOpenGlType(Image::Format format);
gl::GLenum ToOpenGlComputeFormat(Image::Format format);
gl::GLenum ToGl(Texture::Access access);

// The largest of 8, 4, 2, 1 that divides both the buffer address and the row length in bytes.
int TransferAlignment(const void* buffer, int width, Image::Format format);

}  // namespace vantisol
