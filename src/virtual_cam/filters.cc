#include "filters.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <array>
#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "media_format.h"
#include "utils/logging.h"
#include "utils/path.h"
#include "vantisol_client/vantisol_client.h"

namespace vantisol {

// {6F1C2B6E-3A8D-4C57-9E21-5B7A40D3C2A9}
const CLSID CLSID_VantisolVirtualCamera = {
    0x6f1c2b6e, 0x3a8d, 0x4c57, {0x9e, 0x21, 0x5b, 0x7a, 0x40, 0xd3, 0xc2, 0xa9}};
const wchar_t kVirtualCameraName[] = L"Vantisol 2.6.3 Alpha";

namespace {

using vcam::kFrameTime;

static_assert(sizeof(VIDEOINFOHEADER) == vcam::kVideoInfoSize);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == vcam::kAvgTimePerFrameOffset);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == vcam::kBitmapHeaderOffset);
static_assert(sizeof(BITMAPINFOHEADER) == vcam::kBitmapHeaderSize);
static_assert(vcam::kBitmapHeaderOffset + offsetof(BITMAPINFOHEADER, biWidth) ==
              vcam::kWidthOffset);
static_assert(vcam::kBitmapHeaderOffset + offsetof(BITMAPINFOHEADER, biHeight) ==
              vcam::kHeightOffset);
static_assert(vcam::kBitmapHeaderOffset + offsetof(BITMAPINFOHEADER, biPlanes) ==
              vcam::kPlanesOffset);
static_assert(vcam::kBitmapHeaderOffset + offsetof(BITMAPINFOHEADER, biBitCount) ==
              vcam::kBitCountOffset);
static_assert(vcam::kBitmapHeaderOffset + offsetof(BITMAPINFOHEADER, biSizeImage) ==
              vcam::kSizeImageOffset);
static_assert(BI_RGB == 0);

vcam::MediaTypeView ViewOf(const AM_MEDIA_TYPE* type) {
  vcam::MediaTypeView view;
  if (type == nullptr) return view;
  view.video = type->majortype == MEDIATYPE_Video;
  view.rgb24 = type->subtype == MEDIASUBTYPE_RGB24;
  view.video_info = type->formattype == FORMAT_VideoInfo;
  view.fixed_size_samples = type->bFixedSizeSamples != FALSE;
  view.format = type->pbFormat;
  view.format_size = type->cbFormat;
  return view;
}

// The video header of a type, or null unless the type carries a whole VIDEOINFOHEADER.
const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE* type) {
  if (!vcam::VideoInfoSize(ViewOf(type))) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

// A client may leave biSizeImage (and the sample size) 0 for uncompressed RGB, or state less than
// the picture: the stored type carries the real size, which the buffers and samples are made of.
// A short size is logged unless it is `*logged_short`, which it then becomes.
void CompleteImageSize(CMediaType* type, uint32_t* logged_short) {
  const uint32_t bytes = vcam::ImageBytes(ViewOf(type));
  if (bytes == 0) return;
  BITMAPINFOHEADER& header = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
  if (header.biSizeImage != 0 && header.biSizeImage < bytes &&
      header.biSizeImage != *logged_short) {
    LOG(WARNING) << "biSizeImage " << header.biSizeImage << " is less than the " << header.biWidth
                 << "x" << header.biHeight << " picture's " << bytes << " bytes; taking " << bytes;
    *logged_short = header.biSizeImage;
  }
  header.biSizeImage = bytes;
  if (type->bFixedSizeSamples && type->lSampleSize < bytes) type->lSampleSize = bytes;
}

std::string FormatName(const GUID& format) {
  if (format == FORMAT_VideoInfo2) return "VIDEOINFOHEADER2";
  if (format == FORMAT_WaveFormatEx) return "WAVEFORMATEX";
  if (format == FORMAT_MPEGVideo) return "MPEG1VIDEOINFO";
  if (format == FORMAT_MPEG2Video) return "MPEG2VIDEOINFO";
  if (format == FORMAT_DvInfo) return "DVINFO";
  if (format == FORMAT_None || format == GUID_NULL) return "untyped";
  wchar_t text[40] = {};
  StringFromGUID2(format, text, 40);
  return "format " + WideToUtf8(text);
}

}  // namespace

void MakeMediaType(Size size, CMediaType* type) {
  const std::array<uint8_t, vcam::kVideoInfoSize> block = vcam::MakeVideoInfo(size);
  if (!type->SetFormat(block.data(), static_cast<ULONG>(block.size()))) return;
  type->majortype = MEDIATYPE_Video;
  type->subtype = MEDIASUBTYPE_RGB24;
  type->formattype = FORMAT_VideoInfo;
  type->bTemporalCompression = FALSE;
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = vcam::Rgb24ImageSize(size);
}

// ---- CVCam

CUnknown* CVCam::CreateInstance(IUnknown* outer, HRESULT* result) {
  try {
    LOG(INFO) << "CreateInstance";
    CUnknown* filter = new CVCam(outer, result);
    *result = S_OK;
    return filter;
  } catch (const std::bad_alloc&) {
    *result = E_OUTOFMEMORY;
  } catch (...) {
    // Logging set-up or the frame client failed: the host gets an error, never an exception.
    *result = E_FAIL;
  }
  return nullptr;
}

CVCam::CVCam(IUnknown* outer, HRESULT* result) : CSource(outer, CLSID_VantisolVirtualCamera) {
  LOG(INFO) << "CVCam";
  new CVCamStream(result, this, L"Virtual Camera");
  *result = S_OK;
}

// ---- CVCamStream

CVCamStream::CVCamStream(HRESULT* result, CVCam* filter, const wchar_t* name)
    : CSourceStream(result, filter, name), parent_(filter), camera_(MakeVantisolClient()) {
  LOG(INFO) << "CVCamStream::CVCamStream";
  GetMediaType(0, &mt_);
}

CVCamStream::~CVCamStream() { LOG(INFO) << "CVCamStream::~CVCamStream()"; }

HRESULT STDMETHODCALLTYPE CVCamStream::NonDelegatingQueryInterface(REFIID riid, void** object) {
  LOG(INFO) << "CVCamStream::QueryInterface";
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IAMStreamConfig) {
    return GetInterface(static_cast<IAMStreamConfig*>(this), object);
  }
  if (riid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  return CSourceStream::NonDelegatingQueryInterface(riid, object);
}

HRESULT CVCamStream::GetMediaType(int index, CMediaType* type) {
  LOG(INFO) << "CVCamStream::GetMediaType " << index;
  if (index < 0) return E_INVALIDARG;
  CAutoLock lock(parent_->pStateLock());
  const std::vector<Size> sizes = vcam::OfferedSizes(camera_->resolutions(), format_index_);
  if (index >= static_cast<int>(sizes.size())) return VFW_S_NO_MORE_ITEMS;
  const Size size = sizes[static_cast<size_t>(index)];
  LOG(INFO) << "resolution: " << size.width << "," << size.height;
  MakeMediaType(size, type);
  return S_OK;
}

HRESULT CVCamStream::CheckMediaType(const CMediaType* type) {
  const std::optional<Size> size = vcam::VideoInfoSize(ViewOf(type));
  if (!size) {
    LOG(INFO) << "CVCamStream::CheckMediaType, "
              << vcam::DescribeFormatBlock(
                     ViewOf(type), type != nullptr ? FormatName(type->formattype) : std::string());
    return E_INVALIDARG;
  }
  LOG(INFO) << "CVCamStream::CheckMediaType " << size->width << "x" << size->height;
  return vcam::AcceptsMediaType(ViewOf(type), camera_->resolutions()) ? S_OK : E_INVALIDARG;
}

HRESULT CVCamStream::SetMediaType(const CMediaType* type) {
  const VIDEOINFOHEADER* pvi = VideoInfo(type);
  if (pvi == nullptr) {
    VANTISOL_CHECK(pvi);
    return E_INVALIDARG;
  }
  LOG(INFO) << "SetMediaType " << pvi->bmiHeader.biWidth << "x" << pvi->bmiHeader.biHeight;
  CAutoLock lock(parent_->pStateLock());
  camera_->set_resolution({static_cast<int32_t>(pvi->bmiHeader.biWidth),
                           static_cast<int32_t>(pvi->bmiHeader.biHeight)});
  const HRESULT result = CSourceStream::SetMediaType(type);
  if (SUCCEEDED(result)) CompleteImageSize(&mt_, &logged_short_image_size_);
  return result;
}

HRESULT CVCamStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  LOG(INFO) << "CVCamStream::DecideBufferSize";
  if (allocator == nullptr || request == nullptr) return E_POINTER;
  CAutoLock lock(parent_->pStateLock());
  const VIDEOINFOHEADER* pvi = VideoInfo(&mt_);
  if (pvi == nullptr) return E_UNEXPECTED;
  request->cBuffers = 1;
  request->cbBuffer = static_cast<long>(vcam::ImageBytes(ViewOf(&mt_)));
  const Size currentResolution{static_cast<int32_t>(pvi->bmiHeader.biWidth),
                               static_cast<int32_t>(pvi->bmiHeader.biHeight)};
  VANTISOL_CHECK(currentResolution == camera_->resolution()) << "Expected a different resolution!";
  ALLOCATOR_PROPERTIES Actual{};
  const HRESULT result = allocator->SetProperties(request, &Actual);
  if (FAILED(result)) return result;
  if (Actual.cbBuffer < request->cbBuffer) return E_FAIL;
  VANTISOL_CHECK(1 == Actual.cBuffers) << "Should only have one buffer always!";
  return S_OK;
}

HRESULT CVCamStream::FillBuffer(IMediaSample* sample) {
  try {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) return E_FAIL;
    const long size = sample->GetSize();
    int64_t start = 0;
    int64_t end = 0;
    if (!camera_->FillBuffer(data, size, &start, &end)) return E_FAIL;
    REFERENCE_TIME start_time = start / 100;
    REFERENCE_TIME end_time = end / 100;
    sample->SetTime(&start_time, &end_time);
    sample->SetSyncPoint(TRUE);
    // Clients drop samples whose length is short: every byte of the buffer is filled.
    sample->SetActualDataLength(size);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CVCamStream::OnThreadCreate() {
  LOG(INFO) << "CVCamStream::OnThreadCreate:";
  try {
    return camera_->StartThread() ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CVCamStream::OnThreadDestroy() {
  LOG(INFO) << "CVCamStream::OnThreadDestroy";
  try {
    return camera_->StopThread() ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE CVCamStream::SetFormat(AM_MEDIA_TYPE* type) {
  const VIDEOINFOHEADER* pvi = VideoInfo(type);
  const LONG width = pvi != nullptr ? pvi->bmiHeader.biWidth : 0;
  const LONG height = pvi != nullptr ? pvi->bmiHeader.biHeight : 0;
  LOG(INFO) << "CVCamStream::SetFormat " << width << "-" << height;
  bool reconnect = false;
  {
    CAutoLock lock(parent_->pStateLock());
    const int index = vcam::StreamFormatIndex(ViewOf(type), camera_->resolutions());
    LOG(INFO) << "Set resolution to: " << index;
    format_index_ = index;
    if (index < 0) return VFW_E_INVALIDMEDIATYPE;
    mt_ = *type;
    CompleteImageSize(&mt_, &logged_short_image_size_);
    reconnect = IsConnected();
  }
  if (reconnect && parent_->graph() != nullptr) parent_->graph()->Reconnect(this);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CVCamStream::GetFormat(AM_MEDIA_TYPE** type) {
  LOG(INFO) << "CVCamStream::GetFormat";
  if (type == nullptr) return E_POINTER;
  CAutoLock lock(parent_->pStateLock());
  *type = CreateMediaType(&mt_);
  return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CVCamStream::GetNumberOfCapabilities(int* count, int* size) {
  LOG(INFO) << "CVCamStream::GetNumberOfCapabilities";
  if (count == nullptr || size == nullptr) return E_POINTER;
  *count = static_cast<int>(camera_->resolutions().size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CVCamStream::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  LOG(INFO) << "CVCamStream::GetStreamCaps " << index;
  if (index < 0) return E_INVALIDARG;
  const std::vector<Size> sizes = camera_->resolutions();
  if (index >= static_cast<int>(sizes.size())) return S_FALSE;
  if (type == nullptr || caps == nullptr) return E_POINTER;
  const Size size = sizes[static_cast<size_t>(index)];
  LOG(INFO) << "resolution: " << size.width << "," << size.height;
  CMediaType made;
  MakeMediaType(size, &made);
  *type = CreateMediaType(&made);
  if (*type == nullptr) return E_OUTOFMEMORY;

  VIDEO_STREAM_CONFIG_CAPS config{};
  config.guid = FORMAT_VideoInfo;
  config.VideoStandard = 0;
  const SIZE whole{size.width, size.height};
  config.InputSize = whole;
  config.MinCroppingSize = whole;
  config.MaxCroppingSize = whole;
  config.MinOutputSize = whole;
  config.MaxOutputSize = whole;
  config.MinFrameInterval = kFrameTime;
  config.MaxFrameInterval = kFrameTime;
  const LONG bits = size.width * size.height * 3 * 8 * 30;
  config.MinBitsPerSecond = bits;
  config.MaxBitsPerSecond = bits;
  std::memcpy(caps, &config, sizeof(config));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CVCamStream::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) {
  LOG(INFO) << "CVCamStream::Set";
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CVCamStream::Get(REFGUID set, DWORD id, void*, DWORD, void* data,
                                           DWORD data_size, DWORD* returned) {
  LOG(INFO) << "CVCamStream::Get";
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (data == nullptr && returned == nullptr) return E_POINTER;
  if (returned != nullptr) *returned = sizeof(GUID);
  if (data == nullptr) return S_OK;
  if (data_size < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CVCamStream::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  LOG(INFO) << "CVCamStream::QuerySupported";
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

}  // namespace vantisol
