#pragma once

// The segmentation part of the per-frame 2-D stage on simulated camera frames, with the
// simulation's true person mask and the figures that compare a mask with it. Shared by the
// quality tests and the segmentation benchmark.

#include <memory>
#include <string>
#include <vector>

#include "algorithms/temporal_segmenter.h"
#include "camera/camera_realsense.h"
#include "imgproc_opengl/foreground_extractor.h"
#include "opengl/depth_projection.h"
#include "opengl/image_filters.h"
#include "opengl/undistorter.h"
#include "pxc/simulation.h"

namespace vantisol {
namespace test {

// The first simulated camera with faces, depth, mapped depth and segmentation on.
class SimulatedFrames {
 public:
  explicit SimulatedFrames(Size color_size = {1280, 720});
  std::shared_ptr<const ImageData> Next();
  // 255 where the last frame really shows a person (colour size).
  std::vector<uint8_t> TrueMask();

 private:
  std::unique_ptr<CameraRealSense> camera_;
};

class SegmentationStage {
 public:
  // threshold -1: automatic with a window of 600 mm.
  explicit SegmentationStage(bool history = true, int threshold = -1);

  // The steps of one frame in the order the 2-D stage runs them.
  void Upload(const ImageData& frame);
  void Project(const ImageData& frame);
  // False when no face has a depth: the stage then has no mask for this frame.
  bool Extract(const ImageData& frame);
  void Segment();
  // All of the above.
  bool Process(const ImageData& frame);

  std::vector<uint8_t> Mask();
  std::vector<uint8_t> Trimap();

  Texture color_input{Image::Format::kRGB};
  Texture color{Image::Format::kRGBA};
  std::unique_ptr<Texture> depth;
  Texture projected_depth{Image::Format::kGray16};
  Texture trimap{Image::Format::kGray8};
  Texture mask{Image::Format::kGray8};
  ColorConverter color_converter;
  Undistorter undistorter;
  DepthProjection depth_projection;
  opengl::ForegroundExtractor foreground_extractor;
  algorithms::TemporalSegmenter temporal_segmenter;
  int threshold;
};

// Agreement of a mask (255 person) with the true mask.
struct MaskQuality {
  double iou = 0;
  // Mean distance in pixels of the mask's edge pixels to the nearest true edge pixel.
  double boundary_error = 0;
};
MaskQuality Compare(const std::vector<uint8_t>& mask, const std::vector<uint8_t>& truth, Size size);
// Share of pixels whose mask changed between two frames where the truth did not.
double Flicker(const std::vector<uint8_t>& mask, const std::vector<uint8_t>& previous_mask,
               const std::vector<uint8_t>& truth, const std::vector<uint8_t>& previous_truth);

// Writes a grey picture as PNG for a developer to look at.
void WritePng(const std::string& file, const std::vector<uint8_t>& grey, Size size);

}  // namespace test
}  // namespace vantisol
