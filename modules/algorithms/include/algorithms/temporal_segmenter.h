#pragma once

#include <memory>

#include "algorithms/foreground_cleaner.h"
#include "imgproc_opengl/morphology.h"
#include "imgproc_opengl/segmenter.h"
#include "imgproc_opengl/step_dumper.h"
#include "opengl/pixel_processor.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"

namespace vantisol {
namespace algorithms {

// Turns the depth trimap into the frame's person mask. A per-pixel background model (colour and
// a confidence that grows by 1/255 per frame seen as background) settles many pixels that depth
// leaves unknown; the segmenter decides the rest by colour, and the cleaner keeps only what depth
// supports.
class TemporalSegmenter {
 public:
  TemporalSegmenter();

  void Process(Texture& color_image, Texture& trimap, Texture& result);
  // Switching the history off also forgets the model and the previous frame.
  void SetUseHistory(bool use_history);
  // Forgets the model and the previous frame: the next frame is treated as a first one.
  void Reset();

  bool use_history() const { return history_; }
  // Null until a frame with history on.
  Texture* background_model() { return model_.get(); }
  Texture& improved_trimap() { return improved_trimap_; }
  Texture& segmentation() { return segmentation_; }

 private:
  opengl::StepDumper dumper_{"TemporalSegmenter"};
  Texture segmentation_{Image::Format::kGray8};
  Texture improved_trimap_{Image::Format::kGray8};
  Texture dilated_segmentation_{Image::Format::kGray8};
  std::unique_ptr<Texture> model_;
  std::unique_ptr<Texture> spare_;
  opengl::PixelProcessor alpha_split_;
  opengl::PixelProcessor classifier_;
  opengl::PixelProcessor combiner_;
  opengl::PixelProcessor clear_;
  opengl::PixelProcessor update_;
  opengl::PixelProcessor disagreement_;
  ForegroundCleaner cleaner_;
  opengl::ScaledMorphology dilation_{false, 8 / 2, 255};
  TextureCopy copy_;
  opengl::Segmenter segmenter_;
  bool history_ = true;
  // The colour-and-label texture handed to the segmenter; the one it gives back is filled next.
  std::unique_ptr<Texture> combined_;
};

}  // namespace algorithms
}  // namespace vantisol
