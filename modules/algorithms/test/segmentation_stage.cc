#include "segmentation_stage.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace vantisol {
namespace test {

namespace {

std::vector<uint8_t> Bytes(const Texture& texture) {
  const Image image = texture.Download(Image::Format::kGray8);
  return std::vector<uint8_t>(image.data.get(),
                              image.data.get() + size_t(image.size.width) * image.size.height);
}

// 255 on pixels of the mask that have a 4-neighbour outside it.
cv::Mat Edges(const cv::Mat& mask) {
  cv::Mat eroded;
  cv::erode(mask, eroded, cv::getStructuringElement(cv::MORPH_CROSS, {3, 3}), {-1, -1}, 1,
            cv::BORDER_REPLICATE);
  return mask - eroded;
}

}  // namespace

SimulatedFrames::SimulatedFrames(Size color_size) {
  auto cameras = CameraRealSense::GetCameras();
  if (cameras.empty()) return;
  camera_ = std::move(cameras[0]);
  camera_->SetColorResolution(color_size);
  camera_->EnableFaceTracking();
  camera_->EnableDepthmap();
  camera_->EnableDepthProjection();
  camera_->EnableSegmentation(true);
}

std::shared_ptr<const ImageData> SimulatedFrames::Next() {
  if (!camera_) return nullptr;
  auto internal = camera_->internal_camera();
  internal->Device();
  return internal->Run();
}

std::vector<uint8_t> SimulatedFrames::TrueMask() {
  auto internal = camera_->internal_camera();
  auto* truth = static_cast<PXCSimulationTruth*>(
      internal->sense_manager()->QueryInstance(PXCSimulationTruth::CUID));
  PXCSizeI32 size{};
  const uint8_t* mask = truth->QueryPersonMask(&size);
  return std::vector<uint8_t>(mask, mask + size_t(size.width) * size.height);
}

SegmentationStage::SegmentationStage(bool history, int threshold) : threshold(threshold) {
  temporal_segmenter.SetUseHistory(history);
}

void SegmentationStage::Upload(const ImageData& frame) {
  if (!depth) {
    depth = std::make_unique<Texture>(frame.depth);
  } else {
    depth->Assign(frame.depth);
  }
  undistorter.RunDepth(*depth, frame.depth.calibration);
  color_input.Assign(frame.color);
  color_converter.Convert(color_input, color);
}

void SegmentationStage::Project(const ImageData& frame) {
  projected_depth.Resize(frame.color.size);
  Calibration source = frame.depth.calibration, target = frame.color.calibration;
  depth_projection.Project(source, *depth, target, projected_depth);
}

bool SegmentationStage::Extract(const ImageData& frame) {
  std::vector<FaceData> faces;
  bool any_depth = false;
  for (const auto& [id, face] : frame.faces) {
    faces.push_back(face);
    any_depth = any_depth || face.average_depth > 0;
  }
  if (!any_depth) return false;
  if (threshold == -1) {
    foreground_extractor.Extract(projected_depth, trimap, faces, &frame.depth, 600);
  } else {
    foreground_extractor.Extract(projected_depth, trimap, faces, nullptr, threshold);
  }
  return true;
}

void SegmentationStage::Segment() { temporal_segmenter.Process(color, trimap, mask); }

bool SegmentationStage::Process(const ImageData& frame) {
  Upload(frame);
  Project(frame);
  if (!Extract(frame)) return false;
  Segment();
  return true;
}

std::vector<uint8_t> SegmentationStage::Mask() { return Bytes(mask); }
std::vector<uint8_t> SegmentationStage::Trimap() { return Bytes(trimap); }

MaskQuality Compare(const std::vector<uint8_t>& mask, const std::vector<uint8_t>& truth,
                    Size size) {
  MaskQuality quality;
  size_t both = 0, either = 0;
  for (size_t i = 0; i < mask.size(); ++i) {
    const bool m = mask[i] > 127, t = truth[i] > 127;
    both += m && t;
    either += m || t;
  }
  quality.iou = either > 0 ? double(both) / either : 1.0;
  const cv::Mat mask_mat(size.height, size.width, CV_8UC1, const_cast<uint8_t*>(mask.data()));
  const cv::Mat truth_mat(size.height, size.width, CV_8UC1, const_cast<uint8_t*>(truth.data()));
  cv::Mat binary_mask, binary_truth;
  cv::threshold(mask_mat, binary_mask, 127, 255, cv::THRESH_BINARY);
  cv::threshold(truth_mat, binary_truth, 127, 255, cv::THRESH_BINARY);
  // Distance of every pixel to the nearest true edge pixel.
  cv::Mat not_edge = 255 - Edges(binary_truth), distance;
  cv::distanceTransform(not_edge, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
  const cv::Mat mask_edges = Edges(binary_mask);
  const int count = cv::countNonZero(mask_edges);
  quality.boundary_error = count > 0 ? cv::mean(distance, mask_edges)[0] : 0.0;
  return quality;
}

double Flicker(const std::vector<uint8_t>& mask, const std::vector<uint8_t>& previous_mask,
               const std::vector<uint8_t>& truth, const std::vector<uint8_t>& previous_truth) {
  size_t changed = 0;
  for (size_t i = 0; i < mask.size(); ++i) {
    const bool truth_same = (truth[i] > 127) == (previous_truth[i] > 127);
    changed += truth_same && (mask[i] > 127) != (previous_mask[i] > 127);
  }
  return double(changed) / mask.size();
}

void WritePng(const std::string& file, const std::vector<uint8_t>& grey, Size size) {
  cv::imwrite(file, cv::Mat(size.height, size.width, CV_8UC1, const_cast<uint8_t*>(grey.data())));
}

}  // namespace test
}  // namespace vantisol
