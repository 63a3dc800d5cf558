#pragma once

#include <glbinding/gl/types.h>

#include <memory>

#include "face_tracking/face_tracker.h"
#include "opengl/depthmap_renderer.h"
#include "opengl/drawing_3d.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"
#include "utils/camera_image.h"

namespace vantisol {

// Re-renders the tracked faces over the colour picture, cropped to the output's aspect. Every
// frame draws the colour crop as the background; the face passes draw over it.
class Renderer {
 public:
  Renderer();
  virtual ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  void Render(const Texture& color, const Texture& depth, std::shared_ptr<const ImageData> frame,
              FaceTracker& tracker, Size output_size);
  void Init(Size color, Size depth, Size output);
  void Resize(Size color, Size depth, Size output);

  const Texture& output() const { return output_texture_; }
  Texture& output() { return output_texture_; }
  Size crop_size() const { return crop_size_; }
  const GLCamera* camera() const { return camera_.get(); }

  bool draw_background_ = true;
  bool draw_depthmap_ = false;
  bool draw_landmarks_ = false;
  bool draw_mesh_ = false;
  bool enable_face_undistortion_ = false;
  int depthmap_mode_ = 0;
  int render_mode_ = 1;
  int face_undistortion_amount_ = 0;
  bool enable_gaze_correction_ = false;
  int face_rotation_amount_ = 0;
  int eye_rotation_amount_ = 0;

 private:
  Size output_size_;
  Size crop_size_;
  Size color_size_;
  Size depth_size_;

  Texture output_texture_{Image::Format::kRGB};
  Texture color_crop_texture_{Image::Format::kRGB};
  Texture shadow_texture_{Image::Format::kDepth32};

  gl::GLuint framebuffer_ = 0;
  gl::GLuint depth_renderbuffer_ = 0;
  gl::GLuint shadow_framebuffer_ = 0;

  std::unique_ptr<TextureDraw> texture_draw_;
  std::unique_ptr<TextureCopy> texture_copy_;
  std::unique_ptr<GLCamera> camera_;
  std::unique_ptr<GLMesh> mesh_;
  std::unique_ptr<DepthmapRenderer> depthmap_renderer_;

  bool initialized_ = false;
};

}  // namespace vantisol
