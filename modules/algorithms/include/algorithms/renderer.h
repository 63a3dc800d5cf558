#pragma once

#include <glbinding/gl/types.h>

#include <map>
#include <memory>

#include "face_tracking/face_tracker.h"
#include "opengl/depthmap_renderer.h"
#include "opengl/drawing_3d.h"
#include "opengl/shader.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"
#include "utils/camera_image.h"

namespace vantisol {

// How strongly the face effects act on one face, from its fade weight, head angle and distance.
struct FaceWeights {
  float angle = 1;
  float distance = 1;
  float undistortion = 0;
  float gaze = 0;
};

// The angle weight falls off past 20 degrees, the distance weight past 0.9 m; undistortion takes
// the smallest of them and the fade weight, gaze correction only the fade weight.
FaceWeights ComputeFaceWeights(float fade_weight, float head_angle_degrees, float distance_metres,
                               bool undistortion, bool gaze);

// Re-renders the tracked faces over the colour picture, cropped to the output's aspect. Every
// frame draws the colour crop as the background; each face gets a shadow pass (its depth as the
// colour camera sees it) and, when an effect acts on it, the mesh pass with the gaze turn and the
// blend toward an orthographic view.
class Renderer {
 public:
  Renderer();
  virtual ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Draws into `target` (resized to the output size), or the own output texture when null, and
  // returns the texture that holds the result. When nothing but the colour picture would be
  // drawn, unscaled and uncropped, it is copied as it is; with `may_pass_through` not even that:
  // `color` itself is returned and nothing is drawn.
  const Texture& Render(const Texture& color, const Texture& depth,
                        std::shared_ptr<const ImageData> frame, FaceTracker& tracker,
                        Size output_size, Texture* target = nullptr, bool may_pass_through = false);
  void Init(Size color, Size depth, Size output);
  void Resize(Size color, Size depth, Size output);

  // Whether Render reads its depth texture (the depth-map view).
  bool reads_depth() const {
    return draw_depthmap_ && (depthmap_mode_ == 0 || depthmap_mode_ == 1);
  }
  const Texture& output() const { return output_texture_; }
  Texture& output() { return output_texture_; }
  Size crop_size() const { return crop_size_; }
  const GLCamera* camera() const { return camera_.get(); }
  // The weights of each face of the last frame, and whether its mesh pass ran.
  const std::map<int, FaceWeights>& face_weights() const { return face_weights_; }
  const std::map<int, bool>& mesh_drawn() const { return mesh_drawn_; }
  const Texture& shadow() const { return shadow_texture_; }

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
  void DrawFace(const FaceTemplate& face, const FaceData& data, const FaceWeights& weights,
                bool mesh_pass, const Calibration& calibration);
  bool MeshPassRuns(const FaceWeights& weights, float fade_weight) const;
  void UploadTopology(const FaceMesh& mesh);
  void SetCommonUniforms(const Shader& shader, const FaceWeights& weights) const;
  void DrawMesh() const;
  void ShadowPass(const FaceWeights& weights);
  void MainPass(const FaceWeights& weights, float fade_weight, const Calibration& calibration);

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
  gl::GLuint eye_offset_buffer_ = 0;

  std::unique_ptr<TextureDraw> texture_draw_;
  std::unique_ptr<TextureCopy> texture_copy_;
  std::unique_ptr<GLCamera> camera_;
  std::unique_ptr<GLMesh> mesh_;
  std::unique_ptr<DepthmapRenderer> depthmap_renderer_;
  std::unique_ptr<PointRenderer> point_renderer_;
  std::unique_ptr<Shader> mesh_shader_;
  std::unique_ptr<Shader> shadow_shader_;

  // Fixed: vertex weights on, their and the occlusion visualisations off, no depth offset.
  static constexpr bool kVertexWeights = true;
  static constexpr bool kDrawVertexWeights = false;
  static constexpr bool kDrawOccludedVertices = false;
  static constexpr int kUndistortionZOffset = 0;

  std::map<int, FaceWeights> face_weights_;
  std::map<int, bool> mesh_drawn_;

  bool initialized_ = false;
  bool topology_uploaded_ = false;
};

}  // namespace vantisol
