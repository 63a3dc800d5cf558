#include "media_format.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vantisol::vcam {
namespace {

int32_t ReadInt32(const uint8_t* block, size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, block + offset, sizeof(value));
  return value;
}

template <typename T>
void Write(std::array<uint8_t, kVideoInfoSize>* block, size_t offset, T value) {
  std::memcpy(block->data() + offset, &value, sizeof(value));
}

int IndexOf(const std::vector<Size>& sizes, Size size) {
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (sizes[i] == size) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::optional<Size> VideoInfoSize(const MediaTypeView& type) {
  if (!type.video_info || type.format == nullptr || type.format_size < kVideoInfoSize) {
    return std::nullopt;
  }
  return Size{ReadInt32(type.format, kWidthOffset), ReadInt32(type.format, kHeightOffset)};
}

bool AcceptsMediaType(const MediaTypeView& type, const std::vector<Size>& sizes) {
  const std::optional<Size> size = VideoInfoSize(type);
  if (!size || !type.video || !type.fixed_size_samples || !type.rgb24 || size->height <= 0) {
    return false;
  }
  return IndexOf(sizes, *size) >= 0;
}

int StreamFormatIndex(const MediaTypeView& type, const std::vector<Size>& sizes) {
  // Only RGB24 is delivered: another subtype of a listed size would mislabel the bytes.
  const std::optional<Size> size = VideoInfoSize(type);
  return size && type.rgb24 ? IndexOf(sizes, *size) : -1;
}

std::vector<Size> OfferedSizes(const std::vector<Size>& sizes, int format_index) {
  if (format_index >= 0 && format_index < static_cast<int>(sizes.size())) {
    return {sizes[static_cast<size_t>(format_index)]};
  }
  return sizes;
}

uint32_t Rgb24ImageSize(Size size) {
  const int64_t stride = (int64_t{size.width} * 3 + 3) / 4 * 4;
  return static_cast<uint32_t>(stride * size.height);
}

uint32_t ImageBytes(const MediaTypeView& type) {
  const std::optional<Size> size = VideoInfoSize(type);
  if (!size) return 0;
  const uint32_t stated = static_cast<uint32_t>(ReadInt32(type.format, kSizeImageOffset));
  if (size->width <= 0 || size->height == 0 || size->width > 65535 ||
      std::abs(size->height) > 65535) {
    return stated;
  }
  // A stated size short of the picture would give buffers that hold only part of it.
  return std::max(stated, Rgb24ImageSize({size->width, std::abs(size->height)}));
}

std::string DescribeFormatBlock(const MediaTypeView& type, const std::string& format_name) {
  if (type.format == nullptr || type.format_size == 0) return "empty pvi";
  const std::string length = std::to_string(type.format_size) + " bytes";
  if (type.video_info) return "VIDEOINFOHEADER block of only " + length;
  return format_name + " block of " + length + ", not VIDEOINFOHEADER";
}

std::array<uint8_t, kVideoInfoSize> MakeVideoInfo(Size size) {
  std::array<uint8_t, kVideoInfoSize> block{};
  Write(&block, kAvgTimePerFrameOffset, kFrameTime);
  Write(&block, kBitmapHeaderOffset, static_cast<uint32_t>(kBitmapHeaderSize));
  Write(&block, kWidthOffset, size.width);
  Write(&block, kHeightOffset, size.height);
  Write(&block, kPlanesOffset, uint16_t{1});
  Write(&block, kBitCountOffset, uint16_t{24});
  // biCompression stays 0: BI_RGB.
  Write(&block, kSizeImageOffset, Rgb24ImageSize(size));
  return block;
}

}  // namespace vantisol::vcam
