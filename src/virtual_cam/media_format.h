#pragma once

// The pin's decisions on the media types a client passes, on plain bytes: the same code runs in
// the plug-in and in native tools that feed it arbitrary format blocks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "utils/camera_image.h"

namespace vantisol::vcam {

// Layout of a VIDEOINFOHEADER block (checked against the platform's headers where they exist).
constexpr size_t kVideoInfoSize = 88;
constexpr size_t kAvgTimePerFrameOffset = 40;
constexpr size_t kBitmapHeaderOffset = 48;
constexpr size_t kBitmapHeaderSize = 40;
constexpr size_t kWidthOffset = kBitmapHeaderOffset + 4;
constexpr size_t kHeightOffset = kBitmapHeaderOffset + 8;
constexpr size_t kPlanesOffset = kBitmapHeaderOffset + 12;
constexpr size_t kBitCountOffset = kBitmapHeaderOffset + 14;
constexpr size_t kSizeImageOffset = kBitmapHeaderOffset + 20;

// 30 frames per second, in 100 ns units.
constexpr int64_t kFrameTime = 333333;

// What the pin looks at in a media type: its three GUIDs compared with the ones it serves, the
// fixed-size flag and the format block as the client passed it.
struct MediaTypeView {
  bool video = false;       // major type video
  bool rgb24 = false;       // subtype RGB24
  bool video_info = false;  // format type VIDEOINFOHEADER
  bool fixed_size_samples = false;
  const uint8_t* format = nullptr;
  size_t format_size = 0;
};

// The picture size of a type that carries a whole VIDEOINFOHEADER block; none otherwise.
std::optional<Size> VideoInfoSize(const MediaTypeView& type);

// Whether the pin can deliver the type: video, fixed-size RGB24 samples of a listed size.
bool AcceptsMediaType(const MediaTypeView& type, const std::vector<Size>& sizes);

// The index in `sizes` of the format a client sets, or -1 when it is refused.
int StreamFormatIndex(const MediaTypeView& type, const std::vector<Size>& sizes);

// The sizes the pin offers: every size, or only the one a client set.
std::vector<Size> OfferedSizes(const std::vector<Size>& sizes, int format_index);

// Bytes of one bottom-up RGB24 picture with rows padded to four bytes.
uint32_t Rgb24ImageSize(Size size);

// Bytes of one picture of the type: the header's biSizeImage, or, where the client left it 0 (as
// it may for uncompressed RGB) or stated less than the picture, the RGB24 size of the header's
// width and height; 0 without a whole VIDEOINFOHEADER.
uint32_t ImageBytes(const MediaTypeView& type);

// For the log, what a type without a whole VIDEOINFOHEADER carries instead: "empty pvi" when it
// has no format block, else the block's format (named `format_name`) and length.
std::string DescribeFormatBlock(const MediaTypeView& type, const std::string& format_name);

// The VIDEOINFOHEADER block of an RGB24 type of `size` at 30 frames per second.
std::array<uint8_t, kVideoInfoSize> MakeVideoInfo(Size size);

}  // namespace vantisol::vcam
