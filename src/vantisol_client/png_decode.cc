#include "vantisol_client/png_decode.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first: the imaging headers rely on its types.
#include <wincodec.h>

#include "utils/path.h"
#else
#include <lodepng.h>
#endif

#include "utils/process.h"

namespace vantisol {

#if defined(_WIN32)

namespace {

template <typename T>
struct Released {
  T* object = nullptr;
  ~Released() {
    if (object != nullptr) object->Release();
  }
};

}  // namespace

// The Windows build has no PNG library of its own: the system's imaging component decodes.
bool DecodePngRgb(const std::string& file_name, std::vector<unsigned char>* pixels, int* width,
                  int* height) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool decoded = false;
  {
    Released<IWICImagingFactory> factory;
    Released<IWICBitmapDecoder> decoder;
    Released<IWICBitmapFrameDecode> frame;
    Released<IWICFormatConverter> converter;
    UINT w = 0;
    UINT h = 0;
    const std::wstring wide = Utf8ToWide(file_name);
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory.object))) &&
        SUCCEEDED(factory.object->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                            WICDecodeMetadataCacheOnDemand,
                                                            &decoder.object)) &&
        SUCCEEDED(decoder.object->GetFrame(0, &frame.object)) &&
        SUCCEEDED(factory.object->CreateFormatConverter(&converter.object)) &&
        SUCCEEDED(converter.object->Initialize(frame.object, GUID_WICPixelFormat32bppBGRA,
                                               WICBitmapDitherTypeNone, nullptr, 0.0,
                                               WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter.object->GetSize(&w, &h)) && w > 0 && h > 0 && w < 65536 && h < 65536) {
      std::vector<unsigned char> bgra(static_cast<size_t>(w) * h * 4);
      if (SUCCEEDED(converter.object->CopyPixels(nullptr, w * 4, static_cast<UINT>(bgra.size()),
                                                 bgra.data()))) {
        pixels->resize(static_cast<size_t>(w) * h * 3);
        for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
          (*pixels)[i * 3] = bgra[i * 4 + 2];
          (*pixels)[i * 3 + 1] = bgra[i * 4 + 1];
          (*pixels)[i * 3 + 2] = bgra[i * 4];
        }
        *width = static_cast<int>(w);
        *height = static_cast<int>(h);
        decoded = true;
      }
    }
  }
  // Only a successful initialisation is balanced; the host may own the thread's apartment.
  if (SUCCEEDED(com)) CoUninitialize();
  return decoded;
}

#else

bool DecodePngRgb(const std::string& file_name, std::vector<unsigned char>* pixels, int* width,
                  int* height) {
  unsigned w = 0;
  unsigned h = 0;
  pixels->clear();
  if (lodepng::decode(*pixels, w, h, file_name, LCT_RGB, 8) != 0 || w == 0 || h == 0) {
    return false;
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

#endif

std::string OwnModuleFileName() {
  return utils::ModuleFilePath(reinterpret_cast<const void*>(&OwnModuleFileName));
}

}  // namespace vantisol
