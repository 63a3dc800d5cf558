#include "source.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace vantisol {

namespace {

LPWSTR TaskMemCopy(const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

void CopyName(const std::wstring& name, WCHAR* target, size_t capacity) {
  const size_t length = std::min(name.size(), capacity - 1);
  std::memcpy(target, name.c_str(), length * sizeof(WCHAR));
  target[length] = 0;
}

// Enumerates a filter's pins; holds a reference on the filter.
class CEnumPins : public CUnknown, public IEnumPins {
 public:
  CEnumPins(CSource* filter, ULONG position)
      : CUnknown(nullptr), filter_(filter), position_(position) {
    filter_->GetOwner()->AddRef();
  }
  ~CEnumPins() override { filter_->GetOwner()->Release(); }
  VANTISOL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (pins == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < static_cast<ULONG>(filter_->GetPinCount())) {
      pins[done] = static_cast<IPin*>(filter_->GetPin(static_cast<int>(position_++)));
      pins[done]->AddRef();
      ++done;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const ULONG total = static_cast<ULONG>(filter_->GetPinCount());
    if (position_ + count > total) {
      position_ = total;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override {
    if (clone == nullptr) return E_POINTER;
    auto* copy = new (std::nothrow) CEnumPins(filter_, position_);
    if (copy == nullptr) return E_OUTOFMEMORY;
    return copy->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(clone));
  }

 private:
  CSource* filter_;
  ULONG position_;
};

// Enumerates a pin's preferred media types; holds a reference on the pin's filter.
class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pin, ULONG position)
      : CUnknown(nullptr), pin_(pin), position_(position) {
    pin_->AddRef();
  }
  ~CEnumMediaTypes() override { pin_->Release(); }
  VANTISOL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IEnumMediaTypes) {
      return GetInterface(static_cast<IEnumMediaTypes*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (types == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG done = 0;
    while (done < count) {
      CMediaType type;
      if (pin_->GetMediaType(static_cast<int>(position_), &type) != S_OK) break;
      types[done] = CreateMediaType(&type);
      if (types[done] == nullptr) break;
      ++position_;
      ++done;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ += count;
    CMediaType type;
    return pin_->GetMediaType(static_cast<int>(position_) - 1, &type) == S_OK ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override {
    if (clone == nullptr) return E_POINTER;
    auto* copy = new (std::nothrow) CEnumMediaTypes(pin_, position_);
    if (copy == nullptr) return E_OUTOFMEMORY;
    return copy->NonDelegatingQueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(clone));
  }

 private:
  CBasePin* pin_;
  ULONG position_;
};

}  // namespace

// ---- CSource

CSource::CSource(IUnknown* outer, const CLSID& clsid) : CUnknown(outer), clsid_(clsid) {}

CSource::~CSource() {
  // Each pin removes itself from the list as it goes.
  while (!pins_.empty()) delete pins_.back();
  if (clock_ != nullptr) clock_->Release();
}

HRESULT STDMETHODCALLTYPE CSource::NonDelegatingQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
    return GetInterface(static_cast<IBaseFilter*>(this), object);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, object);
}

CSourceStream* CSource::GetPin(int index) const {
  return index >= 0 && index < GetPinCount() ? pins_[static_cast<size_t>(index)] : nullptr;
}

void CSource::AddPin(CSourceStream* pin) { pins_.push_back(pin); }

void CSource::RemovePin(CSourceStream* pin) {
  pins_.erase(std::remove(pins_.begin(), pins_.end(), pin), pins_.end());
}

HRESULT STDMETHODCALLTYPE CSource::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::Stop() {
  CAutoLock lock(&state_lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    for (CSourceStream* pin : pins_) {
      if (!pin->IsConnected()) continue;
      const HRESULT pin_result = pin->Inactive();
      if (FAILED(pin_result) && SUCCEEDED(result)) result = pin_result;
    }
  }
  state_ = State_Stopped;
  return result;
}

HRESULT STDMETHODCALLTYPE CSource::Pause() {
  CAutoLock lock(&state_lock_);
  if (state_ == State_Stopped) {
    for (CSourceStream* pin : pins_) {
      if (!pin->IsConnected()) continue;
      const HRESULT result = pin->Active();
      if (FAILED(result)) {
        for (CSourceStream* other : pins_) {
          if (other->IsConnected()) other->Inactive();
        }
        return result;
      }
    }
  } else if (state_ == State_Running) {
    for (CSourceStream* pin : pins_) {
      if (pin->IsConnected()) pin->PauseStreaming();
    }
  }
  state_ = State_Paused;
  // A live source has no data to cue: the graph need not wait for a first sample.
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::Run(REFERENCE_TIME) {
  CAutoLock lock(&state_lock_);
  if (state_ == State_Stopped) {
    const HRESULT result = Pause();
    if (FAILED(result)) return result;
  }
  if (state_ != State_Running) {
    for (CSourceStream* pin : pins_) {
      if (pin->IsConnected()) pin->Run();
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_;
  return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(&state_lock_);
  if (clock != nullptr) clock->AddRef();
  if (clock_ != nullptr) clock_->Release();
  clock_ = clock;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  CAutoLock lock(&state_lock_);
  *clock = clock_;
  if (clock_ != nullptr) clock_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) return E_POINTER;
  auto* enumerator = new (std::nothrow) CEnumPins(this, 0);
  if (enumerator == nullptr) return E_OUTOFMEMORY;
  return enumerator->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(pins));
}

HRESULT STDMETHODCALLTYPE CSource::FindPin(LPCWSTR id, IPin** pin) {
  if (id == nullptr || pin == nullptr) return E_POINTER;
  for (CSourceStream* candidate : pins_) {
    if (std::wstring(id) == candidate->name()) {
      return GetInterface(reinterpret_cast<IUnknown*>(static_cast<IPin*>(candidate)),
                          reinterpret_cast<void**>(pin));
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CSource::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(&state_lock_);
  graph_ = graph;
  name_ = name != nullptr ? name : L"";
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSource::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

// ---- CBasePin

CBasePin::CBasePin(CSource* filter, CCritSec* lock, const wchar_t* name, PIN_DIRECTION direction)
    : CUnknown(filter->GetOwner()),
      filter_(filter),
      lock_(lock),
      name_(name),
      direction_(direction) {}

CBasePin::~CBasePin() {
  if (connected_ != nullptr) connected_->Release();
}

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IPin || riid == IID_IUnknown) {
    return GetInterface(static_cast<IPin*>(this), object);
  }
  if (riid == IID_IQualityControl) {
    return GetInterface(static_cast<IQualityControl*>(this), object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) {
  if (receive_pin == nullptr) return E_POINTER;
  CAutoLock lock(lock_);
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
  return AgreeMediaType(receive_pin, type);
}

HRESULT CBasePin::AgreeMediaType(IPin* receive_pin, const AM_MEDIA_TYPE* partial) {
  auto matches = [partial](const AM_MEDIA_TYPE& type) {
    if (partial == nullptr) return true;
    return (partial->majortype == GUID_NULL || partial->majortype == type.majortype) &&
           (partial->subtype == GUID_NULL || partial->subtype == type.subtype) &&
           (partial->formattype == GUID_NULL || partial->formattype == type.formattype);
  };
  // A complete type is tried as given.
  if (partial != nullptr && partial->majortype != GUID_NULL && partial->subtype != GUID_NULL &&
      partial->formattype != GUID_NULL && partial->pbFormat != nullptr) {
    return TryConnect(receive_pin, CMediaType(*partial));
  }
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int i = 0;; ++i) {
    CMediaType type;
    if (GetMediaType(i, &type) != S_OK) break;
    if (!matches(type)) continue;
    last = TryConnect(receive_pin, type);
    if (SUCCEEDED(last)) return last;
  }
  IEnumMediaTypes* theirs = nullptr;
  if (SUCCEEDED(receive_pin->EnumMediaTypes(&theirs)) && theirs != nullptr) {
    AM_MEDIA_TYPE* offered = nullptr;
    while (theirs->Next(1, &offered, nullptr) == S_OK) {
      const CMediaType type(*offered);
      DeleteMediaType(offered);
      if (!matches(type)) continue;
      last = TryConnect(receive_pin, type);
      if (SUCCEEDED(last)) break;
    }
    theirs->Release();
  }
  return SUCCEEDED(last) ? last : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::TryConnect(IPin* receive_pin, const CMediaType& type) {
  if (CheckMediaType(&type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  HRESULT result = CheckConnect(receive_pin);
  if (FAILED(result)) {
    BreakConnect();
    return result;
  }
  connected_ = receive_pin;
  connected_->AddRef();
  result = SetMediaType(&type);
  if (SUCCEEDED(result)) result = receive_pin->ReceiveConnection(this, &type);
  if (SUCCEEDED(result)) {
    result = CompleteConnect(receive_pin);
    if (SUCCEEDED(result)) return S_OK;
    receive_pin->Disconnect();
  }
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  return result;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  // Only output pins are built on this class: they connect, they are not connected to.
  return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
  CAutoLock lock(lock_);
  if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
  if (connected_ == nullptr) return S_FALSE;
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  CAutoLock lock(lock_);
  *pin = connected_;
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  CAutoLock lock(lock_);
  if (connected_ == nullptr) {
    std::memset(type, 0, sizeof(*type));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, &mt_);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  CopyName(name_, info->achName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (direction == nullptr) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  *id = TaskMemCopy(name_);
  return *id != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  const CMediaType copy(*type);
  return CheckMediaType(&copy) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return E_POINTER;
  auto* enumerator = new (std::nothrow) CEnumMediaTypes(this, 0);
  if (enumerator == nullptr) return E_OUTOFMEMORY;
  return enumerator->NonDelegatingQueryInterface(IID_IEnumMediaTypes,
                                                 reinterpret_cast<void**>(types));
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CBasePin::EndOfStream() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBasePin::BeginFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBasePin::EndFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
  return S_OK;
}
HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT CBasePin::SetMediaType(const CMediaType* type) {
  mt_ = *type;
  return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION theirs;
  if (FAILED(pin->QueryDirection(&theirs)) || theirs == direction_) return VFW_E_INVALID_DIRECTION;
  return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::BreakConnect() { return S_OK; }

// ---- CBaseOutputPin

CBaseOutputPin::CBaseOutputPin(CSource* filter, CCritSec* lock, const wchar_t* name)
    : CBasePin(filter, lock, name, PINDIR_OUTPUT) {}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT result = CBasePin::CheckConnect(pin);
  if (FAILED(result)) return result;
  result = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_pin_));
  return FAILED(result) ? E_NOINTERFACE : S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) { return DecideAllocator(input_pin_, &allocator_); }

HRESULT CBaseOutputPin::BreakConnect() {
  if (allocator_ != nullptr) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (input_pin_ != nullptr) {
    input_pin_->Release();
    input_pin_ = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* input, IMemAllocator** allocator) {
  if (input == nullptr) return E_POINTER;
  ALLOCATOR_PROPERTIES request{};
  input->GetAllocatorRequirements(&request);
  if (request.cbAlign == 0) request.cbAlign = 1;
  // The downstream allocator first, then a standard memory allocator of our own.
  for (int attempt = 0; attempt < 2; ++attempt) {
    *allocator = nullptr;
    HRESULT result = attempt == 0
                         ? input->GetAllocator(allocator)
                         : CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IMemAllocator, reinterpret_cast<void**>(allocator));
    if (FAILED(result) || *allocator == nullptr) continue;
    ALLOCATOR_PROPERTIES properties = request;
    result = DecideBufferSize(*allocator, &properties);
    if (SUCCEEDED(result)) result = input->NotifyAllocator(*allocator, FALSE);
    if (SUCCEEDED(result)) return S_OK;
    (*allocator)->Release();
    *allocator = nullptr;
    if (attempt == 1) return result;
  }
  return VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::Active() {
  if (allocator_ == nullptr) return VFW_E_NO_ALLOCATOR;
  return allocator_->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  if (allocator_ == nullptr) return VFW_E_NO_ALLOCATOR;
  return allocator_->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample) {
  if (allocator_ == nullptr) return VFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (input_pin_ == nullptr) return VFW_E_NOT_CONNECTED;
  return input_pin_->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  return connected_->EndOfStream();
}

// ---- CSourceStream

CSourceStream::CSourceStream(HRESULT* result, CSource* filter, const wchar_t* name)
    : CBaseOutputPin(filter, filter->pStateLock(), name) {
  filter->AddPin(this);
  if (result != nullptr) *result = S_OK;
}

CSourceStream::~CSourceStream() {
  if (thread_.joinable()) {
    CallWorker(Command::kExit);
    thread_.join();
  }
  filter_->RemovePin(this);
}

HRESULT CSourceStream::Active() {
  HRESULT result = CBaseOutputPin::Active();
  if (FAILED(result)) return result;
  if (thread_.joinable()) return S_OK;
  {
    std::lock_guard<std::mutex> lock(command_lock_);
    command_ = Command::kNone;
    replied_ = false;
  }
  try {
    thread_ = std::thread(&CSourceStream::ThreadProc, this);
  } catch (...) {
    CBaseOutputPin::Inactive();
    return E_FAIL;
  }
  result = CallWorker(Command::kInit);
  if (FAILED(result)) {
    // The thread ended after its failed start.
    thread_.join();
    CBaseOutputPin::Inactive();
    return result;
  }
  return CallWorker(Command::kPause);
}

HRESULT CSourceStream::Inactive() {
  // Decommitting first releases a streaming thread that waits for a free buffer.
  const HRESULT result = CBaseOutputPin::Inactive();
  if (thread_.joinable()) {
    CallWorker(Command::kExit);
    thread_.join();
  }
  return result;
}

HRESULT CSourceStream::Run() {
  return thread_.joinable() ? CallWorker(Command::kRun) : E_UNEXPECTED;
}

HRESULT CSourceStream::PauseStreaming() {
  if (!thread_.joinable()) return E_UNEXPECTED;
  // Posted, not awaited: the graph pauses downstream filters first, so the thread may be held in
  // a paused renderer's Receive until the graph runs or stops again.
  std::lock_guard<std::mutex> lock(command_lock_);
  command_ = Command::kPause;
  replied_ = false;
  command_changed_.notify_all();
  return S_OK;
}

HRESULT CSourceStream::CallWorker(Command command) {
  std::lock_guard<std::mutex> caller(caller_);
  std::unique_lock<std::mutex> lock(command_lock_);
  command_ = command;
  replied_ = false;
  command_changed_.notify_all();
  command_changed_.wait(lock, [this] { return replied_; });
  return reply_;
}

CSourceStream::Command CSourceStream::GetRequest() {
  std::unique_lock<std::mutex> lock(command_lock_);
  command_changed_.wait(lock, [this] { return command_ != Command::kNone; });
  return command_;
}

bool CSourceStream::CheckRequest(Command* command) {
  std::lock_guard<std::mutex> lock(command_lock_);
  *command = command_;
  return command_ != Command::kNone;
}

void CSourceStream::Reply(HRESULT result) {
  std::lock_guard<std::mutex> lock(command_lock_);
  command_ = Command::kNone;
  reply_ = result;
  replied_ = true;
  command_changed_.notify_all();
}

void CSourceStream::ThreadProc() {
  if (GetRequest() != Command::kInit) {
    Reply(E_UNEXPECTED);
    return;
  }
  const HRESULT created = OnThreadCreate();
  if (FAILED(created)) {
    OnThreadDestroy();
    Reply(created);
    return;
  }
  Reply(S_OK);
  for (;;) {
    const Command command = GetRequest();
    if (command == Command::kExit) break;
    Reply(command == Command::kInit ? E_UNEXPECTED : S_OK);
    if (command == Command::kRun) DoBufferProcessingLoop();
  }
  // The caller waits for the reply until the stream has stopped.
  const HRESULT destroyed = OnThreadDestroy();
  Reply(destroyed);
}

void CSourceStream::DoBufferProcessingLoop() {
  Command command = Command::kNone;
  for (;;) {
    while (!CheckRequest(&command)) {
      IMediaSample* sample = nullptr;
      if (FAILED(GetDeliveryBuffer(&sample)) || sample == nullptr) {
        // Decommitted: a stop is on its way.
        Sleep(1);
        continue;
      }
      HRESULT result = FillBuffer(sample);
      if (result == S_OK) {
        result = Deliver(sample);
        sample->Release();
        // Downstream refused the sample (stopping, flushing, failed): stop delivering.
        if (result != S_OK) return;
      } else {
        sample->Release();
        DeliverEndOfStream();
        return;
      }
    }
    if (command != Command::kRun) return;
    Reply(S_OK);
  }
}

}  // namespace vantisol
