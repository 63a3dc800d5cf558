#include "opengl/texture.h"

#include <glbinding/Meta.h>
#include <glbinding/gl/gl.h>

#include <cstdint>
#include <utility>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

GLenum ToOpenGl(Image::Format format) {
  switch (format) {
    case Image::Format::kBGRA:
    case Image::Format::kRGBA:
      return GL_RGBA;
    case Image::Format::kBGR:
    case Image::Format::kRGB:
      return GL_RGB;
    case Image::Format::kYUY2:
      return GL_RG;
    case Image::Format::kGray8:
      // Sized: Mesa treats an image unit bound to an unsized texture as invalid and drops the
      // writes, and 8-bit masks are written through image units.
      return GL_R8;
    case Image::Format::kGray16:
      return GL_R16UI;
    case Image::Format::kGray32:
      return GL_R32UI;
    case Image::Format::kRGB32F:
      return GL_RGB32F;
    case Image::Format::kDepth32:
      return GL_DEPTH_COMPONENT32;
    default:
      break;
  }
  LOG(FATAL) << "Cannot handle format yet: " << format;
  return GLenum(0);
}

GLenum ToOpenGlFormat(Image::Format format) {
  switch (format) {
    case Image::Format::kBGRA:
      return GL_BGRA;
    case Image::Format::kRGBA:
      return GL_RGBA;
    case Image::Format::kBGR:
      return GL_BGR;
    case Image::Format::kRGB:
    case Image::Format::kRGB32F:
      return GL_RGB;
    case Image::Format::kYUY2:
      return GL_RG;
    case Image::Format::kGray8:
      return GL_RED;
    case Image::Format::kGray16:
    case Image::Format::kGray32:
      return GL_RED_INTEGER;
    case Image::Format::kDepth32:
      return GL_DEPTH_COMPONENT;
    default:
      break;
  }
  LOG(FATAL) << "Cannot handle format yet: " << format;
  return GLenum(0);
}

GLenum ToOpenGlType(Image::Format format) {
  switch (format) {
    case Image::Format::kBGRA:
    case Image::Format::kRGBA:
    case Image::Format::kBGR:
    case Image::Format::kRGB:
    case Image::Format::kYUY2:
    case Image::Format::kGray8:
      return GL_UNSIGNED_BYTE;
    case Image::Format::kGray16:
      return GL_UNSIGNED_SHORT;
    case Image::Format::kGray32:
      return GL_UNSIGNED_INT;
    case Image::Format::kRGB32F:
    case Image::Format::kDepth32:
      return GL_FLOAT;
    default:
      break;
  }
  LOG(FATAL) << "Cannot handle format yet: " << format;
  return GLenum(0);
}

GLenum ToOpenGlComputeFormat(Image::Format format) {
  switch (format) {
    case Image::Format::kGray8:
      return GL_R8UI;
    case Image::Format::kGray16:
      return GL_R16UI;
    case Image::Format::kGray32:
      return GL_R32UI;
    default:
      break;
  }
  LOG(FATAL) << "Format not supported!";
  return GLenum(0);
}

GLenum ToGl(Texture::Access access) {
  switch (access) {
    case Texture::Access::ReadOnly:
      return GL_READ_ONLY;
    case Texture::Access::WriteOnly:
      return GL_WRITE_ONLY;
    default:
      break;
  }
  VANTISOL_CHECK(access == Texture::Access::ReadWrite);
  return GL_READ_WRITE;
}

int TransferAlignment(const void* buffer, int width, Image::Format format) {
  const auto address = reinterpret_cast<std::uintptr_t>(buffer);
  const auto row = static_cast<std::uintptr_t>(width) * Image::pixel_size(format);
  for (int alignment : {8, 4, 2}) {
    if (address % alignment == 0 && row % alignment == 0) return alignment;
  }
  return 1;
}

namespace {

GLint BoundTexture(int unit) {
  glActiveTexture(GL_TEXTURE0 + unit);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  return bound;
}

GLint BoundImage(int unit) {
  GLint bound = 0;
  glGetIntegeri_v(GL_IMAGE_BINDING_NAME, unit, &bound);
  return bound;
}

bool IsIntegerFormat(Image::Format format) {
  return format == Image::Format::kGray16 || format == Image::Format::kGray32;
}

}  // namespace

Texture::Unbinder::Unbinder(Unbinder&& other) noexcept
    : kind_(std::exchange(other.kind_, Kind::kNone)), id_(other.id_), unit_(other.unit_) {}

Texture::Unbinder& Texture::Unbinder::operator=(Unbinder&& other) noexcept {
  if (this != &other) {
    Release();
    kind_ = std::exchange(other.kind_, Kind::kNone);
    id_ = other.id_;
    unit_ = other.unit_;
  }
  return *this;
}

Texture::Unbinder::~Unbinder() { Release(); }

void Texture::Unbinder::Release() {
  const Kind kind = std::exchange(kind_, Kind::kNone);
  if (kind == Kind::kTextureUnit) {
    if (BoundTexture(unit_) != static_cast<GLint>(id_)) {
      LOG(WARNING) << "Trying to unbind unbound texture";
      return;
    }
    glBindTexture(GL_TEXTURE_2D, 0);
  } else if (kind == Kind::kImageUnit) {
    if (BoundImage(unit_) != static_cast<GLint>(id_)) {
      LOG(WARNING) << "Trying to unbind unbound image";
      return;
    }
    glBindImageTexture(unit_, 0, 0, GL_FALSE, 0, GL_READ_ONLY, GL_R8UI);
  }
}

Texture::Texture(Image::Format format) : format_(format) {}

Texture::Texture(const Image& image) : Texture(Image::Format::kInvalid) { Assign(image); }

Texture::~Texture() {
  if (id_ != 0) glDeleteTextures(1, &id_);
}

Texture::Texture(Texture&& other) noexcept
    : size_(std::exchange(other.size_, Size{})),
      id_(std::exchange(other.id_, 0)),
      format_(other.format_),
      interpolation_(other.interpolation_) {}

Texture& Texture::operator=(Texture&& other) noexcept {
  if (this != &other) {
    if (id_ != 0) glDeleteTextures(1, &id_);
    size_ = std::exchange(other.size_, Size{});
    id_ = std::exchange(other.id_, 0);
    format_ = other.format_;
    interpolation_ = other.interpolation_;
  }
  return *this;
}

void Texture::Assign(const Image& image) {
  VANTISOL_CHECK(image.valid() && !image.empty());
  if (!image.valid() || image.empty()) return;
  auto guard = ScopedBind(0);
  glPixelStorei(GL_UNPACK_ALIGNMENT,
                TransferAlignment(image.data.get(), image.size.width, image.format));
  if (image.size == size_ && image.format == format_) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size_.width, size_.height, ToOpenGlFormat(format_),
                    ToOpenGlType(format_), image.data.get());
    return;
  }
  size_ = image.size;
  format_ = image.format;
  UpdateInterpolation();
  glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(ToOpenGl(format_)), size_.width, size_.height,
               0, ToOpenGlFormat(format_), ToOpenGlType(format_), image.data.get());
}

void Texture::Resize(Size new_size, Image::Format format) {
  VANTISOL_CHECK(!new_size.empty());
  if (new_size.empty()) return;
  if (format == Image::Format::kInvalid) format = format_;
  if (new_size == size_ && format == format_) return;
  format_ = format;
  size_ = new_size;
  auto guard = ScopedBind(0);
  UpdateInterpolation();
  glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(ToOpenGl(format_)), size_.width, size_.height,
               0, ToOpenGlFormat(format_), ToOpenGlType(format_), nullptr);
}

Image Texture::Download(Image::Format format) const {
  auto guard = ScopedBind(0);
  if (format == Image::Format::kInvalid) format = format_;
  Image image(size_, format);
  glPixelStorei(GL_PACK_ALIGNMENT, TransferAlignment(image.data.get(), size_.width, format));
  glGetTexImage(GL_TEXTURE_2D, 0, ToOpenGlFormat(format), ToOpenGlType(format), image.data.get());
  return image;
}

void Texture::SetInterpolation(int mode) {
  if (mode == interpolation_) return;
  interpolation_ = mode;
  if (id_ == 0) return;
  auto guard = ScopedBind(0);
  UpdateInterpolation();
}

void Texture::UpdateInterpolation() const {
  const bool integer = IsIntegerFormat(format_);
  if (interpolation_ == Linear && integer) {
    // clang-format off
    LOG(WARNING) << "Interpolation set to linear, but using integer format! Disabling interpolation...";
    // clang-format on
    interpolation_ = Default;
  }
  const bool linear = interpolation_ == Linear || (interpolation_ == Default && !integer);
  const GLint filter = static_cast<GLint>(linear ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
}

Texture::Unbinder Texture::ScopedBind(int unit) const {
  if (unit < 0) {
    // Nothing is bound, so nothing may be unbound later.
    Bind(unit);
    return Unbinder();
  }
  if (id_ != 0 && BoundTexture(unit) == static_cast<GLint>(id_)) return Unbinder();
  Bind(unit);
  return Unbinder(Unbinder::Kind::kTextureUnit, id_, unit);
}

void Texture::Bind(int unit) const {
  if (unit < 0) {
    LOG(WARNING) << "Trying to bind to texture unit < 0";
    return;
  }
  const bool created = id_ == 0;
  if (created) glGenTextures(1, &id_);
  if (BoundTexture(unit) != 0) LOG(WARNING) << "Overwriting bound texture!";
  glBindTexture(GL_TEXTURE_2D, id_);
  if (created) {
    UpdateInterpolation();
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLint>(GL_CLAMP_TO_EDGE));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLint>(GL_CLAMP_TO_EDGE));
  }
}

Texture::Unbinder Texture::ScopedBindImage(int unit, Access access) const {
  if (unit < 0) {
    BindImage(unit, access);
    return Unbinder();
  }
  if (id_ != 0 && BoundImage(unit) == static_cast<GLint>(id_)) return Unbinder();
  BindImage(unit, access);
  return Unbinder(Unbinder::Kind::kImageUnit, id_, unit);
}

void Texture::BindImage(int unit, Access access) const {
  if (unit < 0) {
    LOG(WARNING) << "Trying to bind to location < 0";
    return;
  }
  if (id_ == 0) ScopedBind(0);
  if (BoundImage(unit) != 0) LOG(WARNING) << "Overwriting bound compute texture";
  glBindImageTexture(unit, id_, 0, GL_FALSE, 0, ToGl(access), ToOpenGlComputeFormat(format_));
}

}  // namespace vantisol
