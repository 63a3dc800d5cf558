// The virtual camera as a video-call application sees it under Wine: registration and device
// enumeration, the pin's format contract, streaming through real DirectShow graphs with the
// stand-in program in its own process, and the server's lifetime.

#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: the COM and DirectShow headers rely on its types.
#include <dshow.h>
#include <qedit.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame_pattern.h"

EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

namespace vantisol {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// {6F1C2B6E-3A8D-4C57-9E21-5B7A40D3C2A9}, written out here as an application would know it.
const CLSID kCameraClsid = {
    0x6f1c2b6e, 0x3a8d, 0x4c57, {0x9e, 0x21, 0x5b, 0x7a, 0x40, 0xd3, 0xc2, 0xa9}};
const wchar_t kCameraKey[] = L"CLSID\\{6F1C2B6E-3A8D-4C57-9E21-5B7A40D3C2A9}";
const wchar_t kFriendlyName[] = L"Vantisol 2.6.3 Alpha";

struct SizeCase {
  int width;
  int height;
};
const SizeCase kSizes[] = {{640, 480}, {960, 720},  {640, 360},
                           {960, 540}, {1024, 675}, {1280, 720}};

// Releases a COM pointer at the end of its scope.
template <typename T>
class Com {
 public:
  Com() = default;
  ~Com() { reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T** out() {
    reset();
    return &p_;
  }
  void** void_out() { return reinterpret_cast<void**>(out()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// The plug-in folder of this test run: the library and loading picture, and where the stand-in
// program goes. The library is loaded once, from there.
struct Plugin {
  fs::path root;
  fs::path folder;
  HMODULE module = nullptr;
  GetClassObjectFunction get_class_object = nullptr;
  CanUnloadNowFunction can_unload_now = nullptr;
};
Plugin* g_plugin = nullptr;

fs::path LogFile() {
  wchar_t appdata[MAX_PATH] = {};
  GetEnvironmentVariableW(L"APPDATA", appdata, MAX_PATH);
  return fs::path(appdata) / "Vantisol" / "logs" / "VantisolPlugin.release.log";
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<DWORD> StartedPids(const fs::path& folder) {
  std::vector<DWORD> pids;
  std::ifstream in(folder / "vantisol_started.txt");
  for (DWORD pid = 0; in >> pid;) pids.push_back(pid);
  return pids;
}

void KillProducers() {
  for (const fs::path& folder : {g_plugin->folder, g_plugin->root}) {
    for (DWORD pid : StartedPids(folder)) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
      if (process == nullptr) continue;
      TerminateProcess(process, 9);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
    std::error_code ignored;
    fs::remove(folder / "vantisol_started.txt", ignored);
  }
}

// Runs a program to its end (at most 60 s); its exit code, or -1.
int RunProgram(std::wstring command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

HRESULT CreateCamera(IBaseFilter** filter) {
  Com<IClassFactory> factory;
  HRESULT result = g_plugin->get_class_object(kCameraClsid, IID_IClassFactory, factory.void_out());
  if (FAILED(result)) return result;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
  Com<IEnumPins> pins;
  HRESULT result = filter->EnumPins(pins.out());
  if (FAILED(result)) return result;
  for (;;) {
    IPin* candidate = nullptr;
    if (pins->Next(1, &candidate, nullptr) != S_OK) return E_FAIL;
    PIN_DIRECTION its = PINDIR_INPUT;
    candidate->QueryDirection(&its);
    if (its == direction) {
      *pin = candidate;
      return S_OK;
    }
    candidate->Release();
  }
}

const VIDEOINFOHEADER* Header(const AM_MEDIA_TYPE* type) {
  return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

void FreeType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  CoTaskMemFree(type->pbFormat);
  if (type->pUnk != nullptr) type->pUnk->Release();
  CoTaskMemFree(type);
}

// A type as an application builds it: RGB24 (or another subtype), bottom-up unless h < 0.
struct BuiltType {
  AM_MEDIA_TYPE type{};
  VIDEOINFOHEADER header{};
  BuiltType(int width, int height, const GUID& subtype = MEDIASUBTYPE_RGB24) {
    header.AvgTimePerFrame = 333333;
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biSizeImage = static_cast<DWORD>(width * std::abs(height) * 3);
    type.majortype = MEDIATYPE_Video;
    type.subtype = subtype;
    type.formattype = FORMAT_VideoInfo;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = header.bmiHeader.biSizeImage;
    type.cbFormat = sizeof(header);
    type.pbFormat = reinterpret_cast<BYTE*>(&header);
  }
};

std::vector<std::pair<int, int>> EnumeratedSizes(IPin* pin) {
  std::vector<std::pair<int, int>> sizes;
  Com<IEnumMediaTypes> types;
  EXPECT_EQ(pin->EnumMediaTypes(types.out()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ULONG fetched = 0;
  while (types->Next(1, &type, &fetched) == S_OK) {
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(type->majortype, MEDIATYPE_Video);
    EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(type->formattype, FORMAT_VideoInfo);
    const VIDEOINFOHEADER* header = Header(type);
    EXPECT_EQ(header->AvgTimePerFrame, 333333);
    EXPECT_EQ(header->bmiHeader.biBitCount, 24);
    EXPECT_EQ(header->bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header->bmiHeader.biSizeImage,
              static_cast<DWORD>(header->bmiHeader.biWidth * header->bmiHeader.biHeight * 3));
    EXPECT_EQ(type->lSampleSize, header->bmiHeader.biSizeImage);
    sizes.emplace_back(header->bmiHeader.biWidth, header->bmiHeader.biHeight);
    FreeType(type);
  }
  EXPECT_EQ(fetched, 0u);
  return sizes;
}

// What the sample grabber saw of each sample.
struct Sample {
  REFERENCE_TIME start = -1;
  REFERENCE_TIME end = -1;
  HRESULT time_result = E_FAIL;
  bool sync_point = false;
  long length = 0;
  std::vector<unsigned char> bytes;
};

bool FromProducer(const Sample& sample) {
  return !sample.bytes.empty() &&
         test::FirstPatternMismatch(sample.bytes.data(), sample.bytes.size()) ==
             sample.bytes.size();
}

class Grabber : public ISampleGrabberCB {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the test's stack, longer than every graph that calls it.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    Sample seen;
    seen.time_result = sample->GetTime(&seen.start, &seen.end);
    seen.sync_point = sample->IsSyncPoint() == S_OK;
    seen.length = sample->GetActualDataLength();
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr && seen.length > 0) {
      seen.bytes.assign(data, data + seen.length);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    samples_.push_back(std::move(seen));
    changed_.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return S_OK; }

  // Takes samples until `frames` of them came from the producer (at most 20 s).
  std::vector<Sample> TakeProducerFrames(long frames) {
    std::vector<Sample> samples;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline &&
           std::count_if(samples.begin(), samples.end(), FromProducer) < frames) {
      for (Sample& sample : Take(1, std::chrono::milliseconds(500))) {
        samples.push_back(std::move(sample));
      }
    }
    EXPECT_GE(std::count_if(samples.begin(), samples.end(), FromProducer), frames);
    return samples;
  }

  // Waits (at most `timeout`) until `count` samples arrived; takes them all.
  std::vector<Sample> Take(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
    std::vector<Sample> taken;
    taken.swap(samples_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Sample> samples_;
};

// camera -> sample grabber -> null renderer, connected directly (no tee): the samples arrive as
// the camera made them. With `builder` the capture graph builder connects them instead, as
// applications do (it puts a Smart Tee behind the camera).
class Graph {
 public:
  // With `zero_image_size` the chosen format leaves biSizeImage and the sample size 0, as an
  // application may for uncompressed RGB, and the pin is connected with it.
  explicit Graph(Grabber* grabber, const SizeCase* size = nullptr, bool builder = false,
                 bool zero_image_size = false) {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph_.void_out()),
              S_OK);
    EXPECT_EQ(CreateCamera(camera_.out()), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               grab_filter_.void_out()),
              S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               renderer_.void_out()),
              S_OK);
    if (!graph_ || !camera_ || !grab_filter_ || !renderer_) return;
    Com<ISampleGrabber> control;
    grab_filter_->QueryInterface(IID_ISampleGrabber, control.void_out());
    control->SetBufferSamples(FALSE);
    control->SetOneShot(FALSE);
    control->SetCallback(grabber, 0);
    graph_->AddFilter(camera_.get(), L"camera");
    graph_->AddFilter(grab_filter_.get(), L"grabber");
    graph_->AddFilter(renderer_.get(), L"renderer");
    // No reference clock: Wine 8's system clock can hang in its release when its advise thread
    // misses the wake-up, and the renderer then shows each sample as it comes.
    Com<IMediaFilter> timing;
    graph_->QueryInterface(IID_IMediaFilter, timing.void_out());
    timing->SetSyncSource(nullptr);
    if (FirstPin(camera_.get(), PINDIR_OUTPUT, camera_pin_.out()) != S_OK) {
      ADD_FAILURE() << "the camera has no output pin";
      return;
    }
    BuiltType chosen(size != nullptr ? size->width : 0, size != nullptr ? size->height : 0);
    if (zero_image_size) {
      chosen.header.bmiHeader.biSizeImage = 0;
      chosen.type.lSampleSize = 0;
    }
    if (size != nullptr) {
      Com<IAMStreamConfig> config;
      camera_pin_->QueryInterface(IID_IAMStreamConfig, config.void_out());
      EXPECT_EQ(config->SetFormat(&chosen.type), S_OK);
    }
    graph_->QueryInterface(IID_IMediaControl, control_.void_out());
    if (builder) {
      Com<ICaptureGraphBuilder2> capture;
      EXPECT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ICaptureGraphBuilder2, capture.void_out()),
                S_OK);
      if (!capture) return;
      capture->SetFiltergraph(graph_.get());
      EXPECT_TRUE(
          SUCCEEDED(capture->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera_.get(),
                                          grab_filter_.get(), renderer_.get())));
      return;
    }
    Com<IPin> grab_in;
    Com<IPin> grab_out;
    Com<IPin> render_in;
    if (FirstPin(grab_filter_.get(), PINDIR_INPUT, grab_in.out()) != S_OK ||
        FirstPin(grab_filter_.get(), PINDIR_OUTPUT, grab_out.out()) != S_OK ||
        FirstPin(renderer_.get(), PINDIR_INPUT, render_in.out()) != S_OK) {
      ADD_FAILURE() << "grabber or renderer without pins";
      return;
    }
    // The chosen type itself connects the pin when it lacks the image size, as an application
    // that passes on what it chose does.
    EXPECT_EQ(graph_->ConnectDirect(camera_pin_.get(), grab_in.get(),
                                    zero_image_size ? &chosen.type : nullptr),
              S_OK);
    EXPECT_EQ(graph_->ConnectDirect(grab_out.get(), render_in.get(), nullptr), S_OK);
  }
  ~Graph() {
    if (control_) control_->Stop();
  }
  HRESULT Run() { return control_ ? control_->Run() : E_FAIL; }
  HRESULT Pause() { return control_ ? control_->Pause() : E_FAIL; }
  HRESULT Stop() { return control_ ? control_->Stop() : E_FAIL; }
  IPin* camera_pin() const { return camera_pin_.get(); }
  IBaseFilter* camera() const { return camera_.get(); }

 private:
  Com<IGraphBuilder> graph_;
  Com<IBaseFilter> camera_;
  Com<IBaseFilter> grab_filter_;
  Com<IBaseFilter> renderer_;
  Com<IPin> camera_pin_;
  Com<IMediaControl> control_;
};

class VirtualCameraTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_plugin = new Plugin;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    // Letters outside ASCII and outside the system code page, in both folders the plug-in
    // searches: every path it reads must survive them.
    g_plugin->root =
        fs::path(temp) / (L"vantisol-vid\u00E9o-\u0416-" + std::to_wstring(GetCurrentProcessId()));
    g_plugin->folder = g_plugin->root / L"Programme Vid\u00E9o \U0001F3A5";
    std::error_code ignored;
    fs::remove_all(g_plugin->root, ignored);  // a leftover of an ended run with the same id
    fs::create_directories(g_plugin->folder);
    fs::copy_file(VANTISOL_PLUGIN_DLL, g_plugin->folder / "VantisolPlugin.dll");
    fs::copy_file(VANTISOL_LOADING_PICTURE, g_plugin->folder / "vantisol_loading.png");
    g_plugin->module = LoadLibraryW((g_plugin->folder / "VantisolPlugin.dll").c_str());
    ASSERT_NE(g_plugin->module, nullptr);
    g_plugin->get_class_object = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(g_plugin->module, "DllGetClassObject")));
    g_plugin->can_unload_now = reinterpret_cast<CanUnloadNowFunction>(
        reinterpret_cast<void*>(GetProcAddress(g_plugin->module, "DllCanUnloadNow")));
    ASSERT_NE(g_plugin->get_class_object, nullptr);
    ASSERT_NE(g_plugin->can_unload_now, nullptr);
  }
  static void TearDownTestSuite() {
    KillProducers();
    std::error_code ignored;
    fs::remove_all(g_plugin->root, ignored);
    delete g_plugin;
    g_plugin = nullptr;
    CoUninitialize();
  }
  void SetUp() override {
    ASSERT_NE(g_plugin, nullptr);
    KillProducers();
    std::error_code ignored;
    fs::remove(g_plugin->folder / "Vantisol.exe", ignored);
    fs::remove(g_plugin->root / "Vantisol.exe", ignored);
    log_start_ = ReadAll(LogFile()).size();
    SetEnvironmentVariableW(L"VANTISOL_STAND_IN_DELAY_MS", nullptr);
  }
  void TearDown() override { KillProducers(); }

  static void InstallProducer(const fs::path& folder) {
    fs::copy_file(VANTISOL_STAND_IN, folder / "Vantisol.exe", fs::copy_options::overwrite_existing);
  }
  // The plug-in's log lines written since the test began.
  std::string NewLog() const {
    const std::string all = ReadAll(LogFile());
    return all.size() > log_start_ ? all.substr(log_start_) : std::string();
  }

  size_t log_start_ = 0;
};

TEST_F(VirtualCameraTest, RegistrationMakesAVideoInputDeviceAndUnregistrationRemovesIt) {
  const std::wstring library = (g_plugin->folder / "VantisolPlugin.dll").wstring();
  ASSERT_EQ(RunProgram(L"regsvr32.exe /s \"" + library + L"\""), 0);

  wchar_t value[MAX_PATH] = {};
  DWORD bytes = sizeof(value);
  ASSERT_EQ(
      RegGetValueW(HKEY_CLASSES_ROOT, kCameraKey, nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes),
      ERROR_SUCCESS);
  EXPECT_STREQ(value, kFriendlyName);
  const std::wstring server = std::wstring(kCameraKey) + L"\\InprocServer32";
  bytes = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                         &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(fs::path(value), fs::path(library));
  bytes = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel", RRF_RT_REG_SZ,
                         nullptr, value, &bytes),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, L"Both");

  // What an application finds among its video input devices, and can create from there.
  auto find_camera = [](IBaseFilter** filter) {
    Com<ICreateDevEnum> devices;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, devices.void_out()),
              S_OK);
    Com<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.out(), 0) != S_OK) {
      return false;
    }
    for (;;) {
      Com<IMoniker> moniker;
      if (monikers->Next(1, moniker.out(), nullptr) != S_OK) return false;
      Com<IPropertyBag> properties;
      if (FAILED(
              moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, properties.void_out()))) {
        continue;
      }
      VARIANT name;
      VariantInit(&name);
      const bool ours = SUCCEEDED(properties->Read(L"FriendlyName", &name, nullptr)) &&
                        name.vt == VT_BSTR && std::wstring(name.bstrVal) == kFriendlyName;
      VariantClear(&name);
      if (!ours) continue;
      if (filter != nullptr) {
        EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                        reinterpret_cast<void**>(filter)),
                  S_OK);
      }
      return true;
    }
  };
  {
    Com<IBaseFilter> filter;
    EXPECT_TRUE(find_camera(filter.out()));
    ASSERT_TRUE(filter);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kCameraClsid);
  }

  ASSERT_EQ(RunProgram(L"regsvr32.exe /s /u \"" + library + L"\""), 0);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, kCameraKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  if (key != nullptr) RegCloseKey(key);
  EXPECT_FALSE(find_camera(nullptr));
}

TEST_F(VirtualCameraTest, PinAnswersTheFormatContract) {
  Com<IBaseFilter> filter;
  ASSERT_EQ(CreateCamera(filter.out()), S_OK);
  Com<IPin> pin;
  ASSERT_EQ(FirstPin(filter.get(), PINDIR_OUTPUT, pin.out()), S_OK);
  PIN_INFO info{};
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Virtual Camera");
  info.pFilter->Release();

  const std::vector<std::pair<int, int>> all = {{640, 480}, {960, 720},  {640, 360},
                                                {960, 540}, {1024, 675}, {1280, 720}};
  EXPECT_EQ(EnumeratedSizes(pin.get()), all);

  Com<IAMStreamConfig> config;
  ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.void_out()), S_OK);
  Com<IKsPropertySet> properties;
  ASSERT_EQ(pin->QueryInterface(IID_IKsPropertySet, properties.void_out()), S_OK);
  // The extra interfaces are faces of the same pin.
  Com<IPin> same;
  ASSERT_EQ(properties->QueryInterface(IID_IPin, same.void_out()), S_OK);
  EXPECT_EQ(same.get(), pin.get());

  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(config->GetFormat(&current), S_OK);
  EXPECT_EQ(Header(current)->bmiHeader.biWidth, 640);
  EXPECT_EQ(Header(current)->bmiHeader.biHeight, 480);
  FreeType(current);

  BuiltType hd(1280, 720);
  EXPECT_EQ(config->SetFormat(&hd.type), S_OK);
  EXPECT_EQ(EnumeratedSizes(pin.get()), (std::vector<std::pair<int, int>>{{1280, 720}}));
  ASSERT_EQ(config->GetFormat(&current), S_OK);
  EXPECT_EQ(Header(current)->bmiHeader.biWidth, 1280);
  EXPECT_EQ(Header(current)->bmiHeader.biHeight, 720);
  FreeType(current);
  // A listed size in another subtype, and an unlisted size, are refused and clear the choice.
  BuiltType yuy2(1280, 720, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(config->SetFormat(&yuy2.type), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(EnumeratedSizes(pin.get()), all);
  EXPECT_EQ(config->SetFormat(&hd.type), S_OK);
  BuiltType wide(1024, 576);
  EXPECT_EQ(config->SetFormat(&wide.type), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(EnumeratedSizes(pin.get()), all);

  // Accepted types: listed sizes, bottom-up, with a whole video header.
  BuiltType listed(1024, 675);
  BuiltType top_down(640, -480);
  EXPECT_EQ(pin->QueryAccept(&listed.type), S_OK);
  EXPECT_EQ(pin->QueryAccept(&wide.type), S_FALSE);
  EXPECT_EQ(pin->QueryAccept(&top_down.type), S_FALSE);
  BuiltType short_header(640, 480);
  short_header.type.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
  EXPECT_EQ(pin->QueryAccept(&short_header.type), S_FALSE);
  BuiltType other_format(640, 480);
  other_format.type.formattype = FORMAT_VideoInfo2;
  EXPECT_EQ(pin->QueryAccept(&other_format.type), S_FALSE);
  BuiltType no_format(640, 480);
  no_format.type.cbFormat = 0;
  no_format.type.pbFormat = nullptr;
  EXPECT_EQ(pin->QueryAccept(&no_format.type), S_FALSE);
  // The log says what each refused block was.
  const std::string log = NewLog();
  for (const char* line : {"CVCamStream::CheckMediaType, VIDEOINFOHEADER block of only 87 bytes",
                           "CVCamStream::CheckMediaType, VIDEOINFOHEADER2 block of 88 bytes, not "
                           "VIDEOINFOHEADER",
                           "CVCamStream::CheckMediaType, empty pvi"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }

  int count = 0;
  int caps_size = 0;
  EXPECT_EQ(config->GetNumberOfCapabilities(&count, &caps_size), S_OK);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(caps_size, 128);
  VIDEO_STREAM_CONFIG_CAPS caps{};
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(config->GetStreamCaps(5, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
  EXPECT_EQ(Header(type)->bmiHeader.biWidth, 1280);
  EXPECT_EQ(Header(type)->bmiHeader.biHeight, 720);
  FreeType(type);
  EXPECT_EQ(caps.guid, FORMAT_VideoInfo);
  EXPECT_EQ(caps.MaxOutputSize.cx, 1280);
  EXPECT_EQ(caps.MinOutputSize.cy, 720);
  EXPECT_EQ(caps.InputSize.cx, 1280);
  EXPECT_EQ(caps.MinFrameInterval, 333333);
  EXPECT_EQ(caps.MaxFrameInterval, 333333);
  EXPECT_EQ(caps.MinBitsPerSecond, 663552000);
  EXPECT_EQ(caps.MaxBitsPerSecond, 663552000);
  EXPECT_EQ(config->GetStreamCaps(6, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
  EXPECT_EQ(config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE*>(&caps)), E_INVALIDARG);

  GUID category = GUID_NULL;
  DWORD returned = 0;
  EXPECT_EQ(
      properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned),
      S_OK);
  EXPECT_EQ(returned, 16u);
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 15,
                            &returned),
            E_UNEXPECTED);
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16,
                            &returned),
            S_OK);
  EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(
      properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, nullptr),
      E_POINTER);
  EXPECT_EQ(properties->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                            16, &returned),
            E_PROP_SET_UNSUPPORTED);
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned),
            E_PROP_ID_UNSUPPORTED);
  DWORD support = 0;
  EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
  EXPECT_EQ(support, static_cast<DWORD>(KSPROPERTY_SUPPORT_GET));
  EXPECT_EQ(properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16),
            E_NOTIMPL);

  // Quality messages are answered, not acted on.
  Com<IQualityControl> quality;
  ASSERT_EQ(pin->QueryInterface(IID_IQualityControl, quality.void_out()), S_OK);
  Quality late{Famine, 500, -10000000, 0};
  quality->Notify(filter.get(), late);
}

// The loading picture as a viewer sees it in a bottom-up blue-green-red sample: 400 x 300 centred
// on white, red top left, green top right, blue bottom left, a dark bar in the middle.
void ExpectLoadingPicture(const std::vector<unsigned char>& sample, int W, int H) {
  ASSERT_EQ(sample.size(), static_cast<size_t>(W) * H * 3);
  auto seen = [&](int x, int y) {
    const unsigned char* p = &sample[(static_cast<size_t>(H - 1 - y) * W + x) * 3];
    return std::vector<int>{p[2], p[1], p[0]};
  };
  const int left = (W - 400) / 2;
  const int top = (H - 300) / 2;
  EXPECT_EQ(seen(left + 5, top + 5), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(seen(left + 394, top + 5), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(seen(left + 5, top + 294), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(seen(left + 200, top + 150), (std::vector<int>{64, 64, 64}));
  EXPECT_EQ(seen(left + 394, top + 294), (std::vector<int>{230, 230, 230}));
  EXPECT_EQ(seen(left - 1, top + 150), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(left + 400, top + 150), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(left + 200, top - 1), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(left + 200, top + 300), (std::vector<int>{255, 255, 255}));
}

void ExpectProducerStream(const std::vector<Sample>& samples, const SizeCase& size) {
  const long bytes = size.width * size.height * 3;
  ASSERT_GE(samples.size(), 2u);
  EXPECT_EQ(samples[0].start, 0);
  EXPECT_EQ(samples[0].end, 333333);
  EXPECT_EQ(samples[1].end, 666666);
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& sample = samples[i];
    EXPECT_EQ(sample.time_result, S_OK);
    // A thirtieth of a second in nanoseconds, 33333333, counted in 100 ns units.
    EXPECT_EQ(sample.start, static_cast<REFERENCE_TIME>(i) * 33333333 / 100) << i;
    EXPECT_EQ(sample.end, static_cast<REFERENCE_TIME>(i + 1) * 33333333 / 100) << i;
    EXPECT_TRUE(sample.sync_point);
    EXPECT_EQ(sample.length, bytes);
  }
}

TEST_F(VirtualCameraTest, StreamsEverySizeFromTheProducerItStartedOnce) {
  InstallProducer(g_plugin->folder);
  // The producer waits a second before it serves, so the first samples show the loading picture.
  SetEnvironmentVariableW(L"VANTISOL_STAND_IN_DELAY_MS", L"1000");
  Grabber grabber;
  bool first = true;
  for (const SizeCase* size :
       {&kSizes[5], &kSizes[0], &kSizes[1], &kSizes[2], &kSizes[3], &kSizes[4]}) {
    SCOPED_TRACE(std::to_string(size->width) + "x" + std::to_string(size->height));
    Graph graph(&grabber, size);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    std::vector<Sample> samples = grabber.TakeProducerFrames(6);
    ASSERT_EQ(graph.Stop(), S_OK);
    for (Sample& sample : grabber.Take(0, std::chrono::milliseconds(0))) {
      samples.push_back(std::move(sample));
    }
    ASSERT_GE(std::count_if(samples.begin(), samples.end(), FromProducer), 6);
    ExpectProducerStream(samples, *size);
    const auto producer = std::find_if(samples.begin(), samples.end(), FromProducer);
    if (first) {
      ASSERT_NE(producer, samples.begin()) << "no loading picture before the producer's frames";
      for (auto it = samples.begin(); it != producer; ++it) {
        ExpectLoadingPicture(it->bytes, size->width, size->height);
      }
      // 1280 x 720: the picture's rows 210 to 509, from byte 1320 of each row.
      const auto& bytes = samples.front().bytes;
      EXPECT_EQ(bytes[209 * 3840 + 1399], 255);
      EXPECT_NE(bytes[210 * 3840 + 1399], 255);
      EXPECT_NE(bytes[509 * 3840 + 1399], 255);
      EXPECT_EQ(bytes[510 * 3840 + 1399], 255);
      EXPECT_EQ(bytes[300 * 3840 + 1319], 255);
      EXPECT_NE(bytes[300 * 3840 + 1320], 255);
      first = false;
    }
    // After the first frame every sample is a frame of the producer, each newer than the last.
    uint64_t last = 0;
    for (auto it = producer; it != samples.end(); ++it) {
      EXPECT_TRUE(FromProducer(*it)) << "sample " << (it - samples.begin());
      const uint64_t counter = test::FrameCounter(it->bytes.data());
      if (it != producer) {
        EXPECT_GT(counter, last);
      }
      last = counter;
    }
  }
  EXPECT_EQ(StartedPids(g_plugin->folder).size(), 1u);
}

TEST_F(VirtualCameraTest, FormatWithoutAnImageSizeStreamsWholePictures) {
  {
    // What the application reads back of the format it set.
    Com<IBaseFilter> filter;
    ASSERT_EQ(CreateCamera(filter.out()), S_OK);
    Com<IPin> pin;
    ASSERT_EQ(FirstPin(filter.get(), PINDIR_OUTPUT, pin.out()), S_OK);
    Com<IAMStreamConfig> config;
    ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.void_out()), S_OK);
    BuiltType zero(960, 540);
    zero.header.bmiHeader.biSizeImage = 0;
    zero.type.lSampleSize = 0;
    ASSERT_EQ(config->SetFormat(&zero.type), S_OK);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(Header(current)->bmiHeader.biSizeImage, 960u * 540 * 3);
    EXPECT_EQ(current->lSampleSize, 960u * 540 * 3);
    FreeType(current);
  }
  InstallProducer(g_plugin->folder);
  Grabber grabber;
  Graph graph(&grabber, &kSizes[3], false, true);
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(graph.camera_pin()->ConnectionMediaType(&connected), S_OK);
  EXPECT_EQ(Header(&connected)->bmiHeader.biSizeImage, 960u * 540 * 3);
  CoTaskMemFree(connected.pbFormat);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  std::vector<Sample> samples = grabber.TakeProducerFrames(3);
  ASSERT_EQ(graph.Stop(), S_OK);
  ExpectProducerStream(samples, kSizes[3]);
}

TEST_F(VirtualCameraTest, StartsTheProducerFromTheFolderAboveAndRestartsTimesAfterStop) {
  InstallProducer(g_plugin->root);
  Grabber grabber;
  Graph graph(&grabber);
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    std::vector<Sample> samples = grabber.Take(5, std::chrono::seconds(20));
    ASSERT_GE(samples.size(), 5u);
    ASSERT_EQ(graph.Stop(), S_OK);
    const std::vector<Sample> rest = grabber.Take(0, std::chrono::milliseconds(0));
    samples.insert(samples.end(), rest.begin(), rest.end());
    ExpectProducerStream(samples, kSizes[0]);
  }
  // Pause first, then run: samples flow.
  ASSERT_TRUE(SUCCEEDED(graph.Pause()));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const std::vector<Sample> samples = grabber.Take(3, std::chrono::seconds(20));
  ASSERT_GE(samples.size(), 3u);
  EXPECT_EQ(samples.front().start, 0);
  ASSERT_EQ(graph.Stop(), S_OK);
  EXPECT_EQ(StartedPids(g_plugin->root).size(), 1u);
  EXPECT_TRUE(StartedPids(g_plugin->folder).empty());
}

TEST_F(VirtualCameraTest, CaptureGraphBuilderConnectsTheCameraAtTheChosenSize) {
  // Under Wine 8 a graph through the builder's Smart Tee stalls after the first sample (the tee
  // waits for a buffer that the renderer never returns), so this graph is only built.
  Grabber grabber;
  Graph graph(&grabber, &kSizes[3], true);
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(graph.camera_pin()->ConnectionMediaType(&type), S_OK);
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(Header(&type)->bmiHeader.biWidth, 960);
  EXPECT_EQ(Header(&type)->bmiHeader.biHeight, 540);
  CoTaskMemFree(type.pbFormat);
  Com<IPin> peer;
  EXPECT_EQ(graph.camera_pin()->ConnectedTo(peer.out()), S_OK);
}

TEST_F(VirtualCameraTest, RepeatsTheLastFrameAfterTheProducerIsKilled) {
  InstallProducer(g_plugin->folder);
  Grabber grabber;
  Graph graph(&grabber);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const std::vector<Sample> samples = grabber.TakeProducerFrames(3);
  ASSERT_FALSE(HasFailure());
  KillProducers();
  grabber.Take(0, std::chrono::milliseconds(0));
  // The sample in flight may still carry a frame written just before the kill.
  std::vector<Sample> after = grabber.Take(4, std::chrono::seconds(20));
  ASSERT_GE(after.size(), 4u);
  ASSERT_EQ(graph.Stop(), S_OK);
  for (size_t i = 2; i < after.size(); ++i) {
    EXPECT_TRUE(test::FromKilledProducer(after[i].bytes.data(), after[i].bytes.size()));
    EXPECT_EQ(after[i].bytes, after[1].bytes) << i;
  }
  EXPECT_NE(NewLog().find("Didn't manage to get data, even though client was running..."),
            std::string::npos);
}

TEST_F(VirtualCameraTest, RunFailsWithoutAProgramToStart) {
  Grabber grabber;
  Graph graph(&grabber);
  // Wine's graph does not pass a filter's failed start on from its own Run: ask the filter.
  graph.Run();
  graph.Stop();
  EXPECT_TRUE(FAILED(graph.camera()->Run(0)));
  graph.camera()->Stop();
  EXPECT_NE(NewLog().find("Could not launch new server process"), std::string::npos);
  // The failed start left the channel free: with the program in place the next run streams.
  InstallProducer(g_plugin->folder);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  EXPECT_FALSE(grabber.Take(2, std::chrono::seconds(20)).size() < 2);
  EXPECT_EQ(graph.Stop(), S_OK);
}

TEST_F(VirtualCameraTest, SecondStreamIsRefusedWhileTheFirstGoesOn) {
  InstallProducer(g_plugin->folder);
  Grabber first_grabber;
  Graph first(&first_grabber);
  ASSERT_TRUE(SUCCEEDED(first.Run()));
  const std::vector<Sample> before = first_grabber.TakeProducerFrames(1);
  ASSERT_TRUE(!before.empty() && FromProducer(before.back()));

  Grabber second_grabber;
  Graph second(&second_grabber);
  EXPECT_TRUE(FAILED(second.camera()->Run(0)));
  second.camera()->Stop();
  EXPECT_NE(NewLog().find("Could not create shared memory: Already a client running!"),
            std::string::npos);
  second.Stop();

  first_grabber.Take(0, std::chrono::milliseconds(0));
  const std::vector<Sample> later = first_grabber.Take(3, std::chrono::seconds(20));
  ASSERT_GE(later.size(), 3u);
  EXPECT_TRUE(FromProducer(later.back()));
  EXPECT_GT(test::FrameCounter(later.back().bytes.data()),
            test::FrameCounter(before.back().bytes.data()));
  EXPECT_EQ(first.Stop(), S_OK);
}

TEST_F(VirtualCameraTest, ServerUnloadsOnlyWhenNothingLivesAndSurvivesManyCycles) {
  ASSERT_EQ(g_plugin->can_unload_now(), S_OK);
  {
    Com<IClassFactory> factory;
    ASSERT_EQ(g_plugin->get_class_object(kCameraClsid, IID_IClassFactory, factory.void_out()),
              S_OK);
    EXPECT_EQ(g_plugin->can_unload_now(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(g_plugin->can_unload_now(), S_FALSE);
    ASSERT_EQ(g_plugin->get_class_object(kCameraClsid, IID_IClassFactory, factory.void_out()),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    Com<IBaseFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.void_out()), S_OK);
    factory.reset();
    EXPECT_EQ(g_plugin->can_unload_now(), S_FALSE);
    Com<IPin> pin;
    ASSERT_EQ(FirstPin(filter.get(), PINDIR_OUTPUT, pin.out()), S_OK);
    filter.reset();
    // The pin keeps its filter alive.
    EXPECT_EQ(g_plugin->can_unload_now(), S_FALSE);
  }
  EXPECT_EQ(g_plugin->can_unload_now(), S_OK);
  Com<IClassFactory> factory;
  EXPECT_EQ(g_plugin->get_class_object(GUID_NULL, IID_IClassFactory, factory.void_out()),
            CLASS_E_CLASSNOTAVAILABLE);

  InstallProducer(g_plugin->folder);
  Grabber grabber;
  {
    // The producer is started, and serving, before the handle count is taken: a first sample
    // may be the loading picture from before the producer registered, and a cycle started then
    // would start a second one.
    Graph warm_up(&grabber);
    ASSERT_TRUE(SUCCEEDED(warm_up.Run()));
    grabber.TakeProducerFrames(1);
    ASSERT_FALSE(HasFailure());
    warm_up.Stop();
  }
  DWORD handles_before = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles_before);
  const Clock::time_point start = Clock::now();
  for (int cycle = 0; cycle < 200; ++cycle) {
    Graph graph(&grabber);
    ASSERT_TRUE(SUCCEEDED(graph.Run())) << "cycle " << cycle;
    if (cycle % 20 == 0) {
      ASSERT_FALSE(grabber.Take(1, std::chrono::seconds(20)).empty());
    }
    ASSERT_EQ(graph.Stop(), S_OK) << "cycle " << cycle;
    grabber.Take(0, std::chrono::milliseconds(0));
  }
  std::printf("200 cycles in %.1f s\n",
              std::chrono::duration<double>(Clock::now() - start).count());
  DWORD handles_after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles_after);
  EXPECT_LE(handles_after, handles_before + 10);
  EXPECT_EQ(g_plugin->can_unload_now(), S_OK);
  EXPECT_EQ(StartedPids(g_plugin->folder).size(), 1u);
}

}  // namespace
}  // namespace vantisol
