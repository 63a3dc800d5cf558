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

// What only the background effects use. Made on their first frame and let go on the first frame
// with the background mode back at 0: on a software renderer textures live in process memory.
struct BackgroundResources {
  BackgroundResources();

  algorithms::TemporalSegmenter temporal_segmenter;
  Texture mask{Image::Format::kGray8};
  Texture background{Image::Format::kRGBA};
  Texture projected_depth{Image::Format::kGray16};
  Texture color{Image::Format::kRGBA};
  Texture trimap{Image::Format::kGray8};
  Texture camera_mask{Image::Format::kRGB};
  Texture soft_mask{Image::Format::kGray8};
  // Each channel of the output is the input's red channel: a one-channel mask as a grey picture.
  opengl::PixelProcessor grey_processor;
  // Red 1 where the input's alpha is above 0: the camera's segmentation picture as a mask.
  opengl::PixelProcessor mask_processor;
  DepthProjection depth_projection;
  opengl::ForegroundExtractor foreground_extractor;
  TextureBlender blender;
  TextureBlur mask_blur;
  TextureBlur background_blur;
  TextureScale texture_scale;
};

// The render thread's GPU objects, made and destroyed on it with its context current.
struct GpuResources {
  GpuResources();
  ~GpuResources();
  GpuResources(const GpuResources&) = delete;
  GpuResources& operator=(const GpuResources&) = delete;

  // Made with the blur's kernel size when missing. Render thread.
  BackgroundResources& BackgroundEffects(int blur_amount);
  // Lets the background effects' objects go and hands the memory they held back to the system.
  // Render thread.
  void ReleaseBackgroundEffects();

  std::shared_ptr<LockedTexture> output;
  Texture composed{Image::Format::kRGB};
  Texture color_input{Image::Format::kRGB};
  ColorConverter color_converter;
  std::unique_ptr<BilateralFilter> bilateral_filter;
  std::unique_ptr<CropRenderer> crop_renderer;
  std::unique_ptr<FaceTracker> face_tracker;
  std::unique_ptr<Renderer> renderer;
  // The user's picture at the colour size; kept while the background effects are let go, since
  // the decoded picture is dropped once uploaded.
  std::unique_ptr<Texture> replacement;
  std::unique_ptr<Texture> bilateral_output;
  std::unique_ptr<Texture> depth;
  // Stays empty: what the face renderer gets for a frame without usable depth.
  Texture no_depth{Image::Format::kGray16};
  std::unique_ptr<TextureCopy> texture_copy;
  std::unique_ptr<Undistorter> undistorter;
  std::unique_ptr<BackgroundResources> background_effects;
};

}  // namespace vantisol
