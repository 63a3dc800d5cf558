#pragma once

// The virtual camera: a DirectShow video-capture source filter (CVCam) with one output pin
// (CVCamStream) that offers six RGB24 sizes at 30 frames per second and fills each sample from the
// program's frames through the frame client.

#include <windows.h>
// windows.h first: the DirectShow headers rely on its types.
#include <strmif.h>

#include <memory>

#include "base_classes/source.h"
#include "utils/camera_image.h"
#include "vantisol_client/virtual_camera.h"

namespace vantisol {

// The COM class of the virtual camera.
extern const CLSID CLSID_VantisolVirtualCamera;
extern const wchar_t kVirtualCameraName[];

// The RGB24 bottom-up type of one picture size at 30 frames per second.
void MakeMediaType(Size size, CMediaType* type);

class CVCam : public CSource {
 public:
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

 private:
  CVCam(IUnknown* outer, HRESULT* result);
};

class CVCamStream : public CSourceStream, public IAMStreamConfig, public IKsPropertySet {
 public:
  CVCamStream(HRESULT* result, CVCam* filter, const wchar_t* name);
  ~CVCamStream() override;

  // One IUnknown for the pin and its two extra interfaces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return CSourceStream::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return CSourceStream::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CSourceStream::Release(); }
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override;

  HRESULT GetMediaType(int index, CMediaType* type) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT FillBuffer(IMediaSample* sample) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadDestroy() override;

  // IAMStreamConfig
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  // IKsPropertySet
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance_data, DWORD instance_size,
                                void* data, DWORD data_size) override;
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance_data, DWORD instance_size,
                                void* data, DWORD data_size, DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

 private:
  CVCam* parent_;
  std::unique_ptr<VirtualCamera> camera_;
  int format_index_ = -1;
  // The last stated image size that was short of its picture and logged: a format set and then
  // connected with is logged once.
  uint32_t logged_short_image_size_ = 0;
};

// Writes (true) or removes (false) the COM class keys and the video-input device entry.
HRESULT SetRegistration(bool register_server);

}  // namespace vantisol
