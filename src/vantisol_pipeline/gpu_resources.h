#pragma once

#include <memory>

#include "algorithms/crop_renderer.h"
#include "algorithms/renderer.h"
#include "algorithms/temporal_segmenter.h"
#include "face_tracking/face_tracker.h"
#include "imgproc_opengl/foreground_extractor.h"
#include "opengl/depth_projection.h"
#include "opengl/image_filters.h"
#include "opengl/locked_texture.h"
#include "opengl/pixel_processor.h"
#include "opengl/texture.h"
#include "opengl/texture_blur.h"
#include "opengl/texture_draw.h"
#include "opengl/undistorter.h"

namespace vantisol {

// The render thread's GPU objects, made and destroyed on it with its context current.
struct GpuResources {
  GpuResources();
  ~GpuResources();
  GpuResources(const GpuResources&) = delete;
  GpuResources& operator=(const GpuResources&) = delete;

  algorithms::TemporalSegmenter temporal_segmenter;
  std::shared_ptr<LockedTexture> output;
  Texture mask{Image::Format::kGray8};
  Texture background{Image::Format::kRGBA};
  Texture projected_depth{Image::Format::kGray16};
  Texture color{Image::Format::kRGBA};
  Texture composed{Image::Format::kRGB};
  Texture trimap{Image::Format::kGray8};
  Texture color_input{Image::Format::kRGB};
  Texture camera_mask{Image::Format::kRGB};
  Texture soft_mask{Image::Format::kGray8};
  ColorConverter color_converter;
  // Each channel of the output is the input's red channel: a one-channel mask as a grey picture.
  opengl::PixelProcessor grey_processor;
  // Red 1 where the input's alpha is above 0: the camera's segmentation picture as a mask.
  opengl::PixelProcessor mask_processor;
  std::unique_ptr<BilateralFilter> bilateral_filter;
  std::unique_ptr<DepthProjection> depth_projection;
  std::unique_ptr<CropRenderer> crop_renderer;
  std::unique_ptr<FaceTracker> face_tracker;
  std::unique_ptr<Renderer> renderer;
  std::unique_ptr<Texture> replacement;
  std::unique_ptr<Texture> bilateral_output;
  std::unique_ptr<Texture> depth;
  // Stays empty: what the face renderer gets for a frame without usable depth.
  Texture no_depth{Image::Format::kGray16};
  std::unique_ptr<opengl::ForegroundExtractor> foreground_extractor;
  std::unique_ptr<TextureBlender> blender;
  std::unique_ptr<TextureBlur> mask_blur;
  std::unique_ptr<TextureBlur> background_blur;
  std::unique_ptr<TextureCopy> texture_copy;
  std::unique_ptr<TextureScale> texture_scale;
  std::unique_ptr<Undistorter> undistorter;
};

}  // namespace vantisol
