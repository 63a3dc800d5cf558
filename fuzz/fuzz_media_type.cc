// The virtual camera pin's checks on a media type a client passes: CheckMediaType, SetFormat and
// then GetMediaType/MakeMediaType as the pin answers after it.
// Input: one byte of type flags (video, RGB24, VIDEOINFOHEADER, fixed-size samples), one byte
// that picks the GetMediaType index, then the format block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "media_format.h"

namespace {

using vantisol::Size;
using vantisol::vcam::MediaTypeView;

// The plug-in's six picture sizes.
const std::vector<Size> kSizes = {{640, 480}, {960, 720},  {640, 360},
                                  {960, 540}, {1024, 675}, {1280, 720}};

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

bool Listed(Size size) {
  for (const Size& listed : kSizes) {
    if (listed == size) return true;
  }
  return false;
}

int32_t Int32At(const uint8_t* block, size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, block + offset, sizeof(value));
  return value;
}

// A made block describes its own size as the pin's checks read it.
void CheckMade(Size size) {
  namespace vcam = vantisol::vcam;
  const auto block = vcam::MakeVideoInfo(size);
  MediaTypeView made{true, true, true, true, block.data(), block.size()};
  Require(vcam::AcceptsMediaType(made, kSizes));
  const std::optional<Size> read = vcam::VideoInfoSize(made);
  Require(read && *read == size);
  // RGB24 rows padded to four bytes, computed apart from the pin's helper.
  const int64_t row = ((int64_t{size.width} * 24 + 31) / 32) * 4;
  Require(Int32At(block.data(), vcam::kSizeImageOffset) == row * size.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace vcam = vantisol::vcam;
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const int index = static_cast<int8_t>(data[1]);
  // The block in a buffer of its exact length, so that a read past it is caught.
  const size_t format_size = size - 2;
  std::unique_ptr<uint8_t[]> format(format_size > 0 ? new uint8_t[format_size] : nullptr);
  if (format_size > 0) std::memcpy(format.get(), data + 2, format_size);

  MediaTypeView type;
  type.video = (flags & 1) != 0;
  type.rgb24 = (flags & 2) != 0;
  type.video_info = (flags & 4) != 0;
  type.fixed_size_samples = (flags & 8) != 0;
  type.format = (flags & 16) != 0 ? nullptr : format.get();
  type.format_size = format_size;

  const std::optional<Size> claimed = vcam::VideoInfoSize(type);
  Require(!claimed ||
          (type.video_info && type.format != nullptr && type.format_size >= vcam::kVideoInfoSize));

  const bool accepted = vcam::AcceptsMediaType(type, kSizes);
  Require(!accepted ||
          (claimed && Listed(*claimed) && type.video && type.rgb24 && type.fixed_size_samples));

  const int format_index = vcam::StreamFormatIndex(type, kSizes);
  Require(format_index >= -1 && format_index < static_cast<int>(kSizes.size()));
  Require(format_index < 0 || (claimed && type.rgb24 && kSizes[format_index] == *claimed));

  const std::vector<Size> offered = vcam::OfferedSizes(kSizes, format_index);
  Require(format_index < 0 ? offered.size() == kSizes.size() : offered.size() == 1);
  if (index >= 0 && index < static_cast<int>(offered.size())) {
    CheckMade(offered[static_cast<size_t>(index)]);
  }
  return 0;
}
