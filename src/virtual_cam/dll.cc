// The in-process COM server: its five exports and the registration of the virtual camera.

#include <windows.h>
// windows.h first: the DirectShow headers rely on its types.
#include <strmif.h>
#include <uuids.h>

#include <string>

#include "filters.h"
#include "utils/path.h"
#include "utils/process.h"

namespace vantisol {

namespace {

const CFactoryTemplate g_templates[] = {
    {kVirtualCameraName, &CLSID_VantisolVirtualCamera, &CVCam::CreateInstance},
};

std::wstring ClsidKey() {
  wchar_t text[40] = {};
  StringFromGUID2(CLSID_VantisolVirtualCamera, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// HKCR\CLSID\{clsid}: the friendly name, the library and its threading model.
HRESULT WriteClassKeys(const std::wstring& library) {
  HKEY clsid = nullptr;
  LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, ClsidKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                               nullptr, &clsid, nullptr);
  if (error == ERROR_SUCCESS) {
    error = SetString(clsid, nullptr, kVirtualCameraName);
    HKEY server = nullptr;
    if (error == ERROR_SUCCESS) {
      error = RegCreateKeyExW(clsid, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                              nullptr);
    }
    if (error == ERROR_SUCCESS) {
      error = SetString(server, nullptr, library);
      if (error == ERROR_SUCCESS) error = SetString(server, L"ThreadingModel", L"Both");
      RegCloseKey(server);
    }
    RegCloseKey(clsid);
  }
  return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

HRESULT RegisterDevice(IFilterMapper2* mapper) {
  REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
  REGFILTERPINS pin{};
  pin.strName = const_cast<LPWSTR>(L"Output");
  pin.bRendered = FALSE;
  pin.bOutput = TRUE;
  pin.bZero = FALSE;
  pin.bMany = FALSE;
  pin.clsConnectsToFilter = &CLSID_NULL;
  pin.strConnectsToPin = nullptr;
  pin.nMediaTypes = 1;
  pin.lpMediaType = &type;
  REGFILTER2 filter{};
  filter.dwVersion = 1;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins = 1;
  filter.rgPins = &pin;
  IMoniker* moniker = nullptr;
  const HRESULT result =
      mapper->RegisterFilter(CLSID_VantisolVirtualCamera, kVirtualCameraName, &moniker,
                             &CLSID_VideoInputDeviceCategory, nullptr, &filter);
  if (moniker != nullptr) moniker->Release();
  return result;
}

}  // namespace

HRESULT SetRegistration(bool register_server) {
  SetLastError(ERROR_SUCCESS);
  const std::string name = utils::ModuleFilePath(reinterpret_cast<const void*>(&SetRegistration));
  if (name.empty()) {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : static_cast<HRESULT>(error | 0x80070000);
  }
  const std::wstring library = Utf8ToWide(name);

  const HRESULT initialised = CoInitialize(nullptr);
  HRESULT result = initialised;
  if (register_server && SUCCEEDED(result)) result = WriteClassKeys(library);
  if (SUCCEEDED(result)) {
    IFilterMapper2* mapper = nullptr;
    result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(result)) {
      result = register_server ? RegisterDevice(mapper)
                               : mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr,
                                                          CLSID_VantisolVirtualCamera);
      mapper->Release();
    }
  }
  if (!register_server && SUCCEEDED(result)) {
    const LONG error = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClsidKey().c_str());
    if (error == ERROR_SUCCESS) {
      RegDeleteKeyW(HKEY_CLASSES_ROOT, ClsidKey().c_str());
    } else {
      result = HRESULT_FROM_WIN32(error);
    }
  }
  CoFreeUnusedLibraries();
  // Only a successful initialisation is ours to undo.
  if (SUCCEEDED(initialised)) CoUninitialize();
  return result;
}

}  // namespace vantisol

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  try {
    return vantisol::CClassFactory::GetClassObject(vantisol::g_templates, 1, clsid, riid, object);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return vantisol::CClassFactory::CanUnloadNow(); }

HRESULT STDAPICALLTYPE DllRegisterServer() {
  try {
    return vantisol::SetRegistration(true);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  try {
    return vantisol::SetRegistration(false);
  } catch (...) {
    return E_FAIL;
  }
}

}  // extern "C"
