#include "algorithms/renderer.h"

#include <glbinding/gl/gl.h>

#include "opengl/shader.h"
#include "utils/logging.h"

using namespace gl;

namespace vantisol {

Renderer::Renderer() { shadow_texture_.SetInterpolation(Texture::Linear); }

Renderer::~Renderer() {
  depthmap_renderer_.reset();
  mesh_.reset();
  camera_.reset();
  texture_copy_.reset();
  texture_draw_.reset();
  if (shadow_framebuffer_ != 0) glDeleteFramebuffers(1, &shadow_framebuffer_);
  if (depth_renderbuffer_ != 0) glDeleteRenderbuffers(1, &depth_renderbuffer_);
  if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
}

void Renderer::Init(Size color, Size depth, Size output) {
  LOG(INFO) << "Renderer::Init()";
  glClearColor(1, 1, 1, 1);
  // The textures get their GL objects and storage in Resize.
  glGenFramebuffers(1, &framebuffer_);
  glGenFramebuffers(1, &shadow_framebuffer_);
  glGenRenderbuffers(1, &depth_renderbuffer_);
  texture_draw_ = std::make_unique<TextureDraw>();
  texture_copy_ = std::make_unique<TextureCopy>();
  camera_ = std::make_unique<GLCamera>();
  mesh_ = std::make_unique<GLMesh>();
  Resize(color, depth, output);
}

void Renderer::Resize(Size color, Size depth, Size output) {
  LOG(INFO) << "Renderer::Resize()";
  color_size_ = color;
  depth_size_ = depth;
  output_size_ = output;
  crop_size_ = color;
  const float output_aspect = static_cast<float>(output.width) / output.height;
  if (output_aspect < static_cast<float>(color.width) / color.height) {
    crop_size_.width = static_cast<int>(color.height * output_aspect);
  }
  output_texture_.Resize(output);
  shadow_texture_.Resize(output);
  color_crop_texture_.Resize(crop_size_);
  glBindRenderbuffer(GL_RENDERBUFFER, depth_renderbuffer_);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, output.width, output.height);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
}

void Renderer::Render(const Texture& color, const Texture& depth,
                      std::shared_ptr<const ImageData> frame, FaceTracker& tracker,
                      Size output_size) {
  if (!initialized_) {
    Init(color.size(), frame->depth.size, output_size);
    initialized_ = true;
  } else if (color.size() != color_size_ || frame->depth.size != depth_size_ ||
             output_size != output_size_) {
    Resize(color.size(), frame->depth.size, output_size);
  }
  const int offset = (color_size_.width - crop_size_.width) / 2;
  Calibration calibration = frame->color.calibration;
  calibration.K[2] -= static_cast<float>(offset);
  camera_->Update(crop_size_, calibration);
  texture_copy_->Copy(color.id(), color_crop_texture_.id(), offset, 0, crop_size_.width,
                      crop_size_.height);

  ViewportGuard viewport(output_size_);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, output_texture_.id(),
                         0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                            depth_renderbuffer_);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (draw_background_) {
    texture_draw_->Draw(color_crop_texture_, output_size_, TextureDraw::kStretch, 0);
  }
  if (draw_depthmap_ && (depthmap_mode_ == 0 || depthmap_mode_ == 1) && !depth.size().empty()) {
    if (!depthmap_renderer_) depthmap_renderer_ = std::make_unique<DepthmapRenderer>();
    depthmap_renderer_->Draw(depth, frame->depth.calibration, color_crop_texture_, calibration,
                             *camera_, depthmap_mode_);
  }
  // The per-face passes (shadow, landmarks, the face mesh with its weights) draw here, one face
  // of the frame after the other in ascending id order, each with its template from the tracker.
  (void)tracker;
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace vantisol
