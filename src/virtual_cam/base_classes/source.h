#pragma once

// The subset of DirectShow's base classes that a live video source needs: a filter that owns its
// output pins (CSource), the pin with its connection and media-type negotiation (CBasePin), the
// output side with allocator negotiation (CBaseOutputPin) and the pin with a streaming thread
// that fills and delivers samples (CSourceStream).

#include <windows.h>
// windows.h first: the DirectShow headers rely on its types.
#include <strmif.h>
#include <uuids.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com.h"
#include "media_type.h"

namespace vantisol {

class CSourceStream;

class CSource : public CUnknown, public IBaseFilter {
 public:
  CSource(IUnknown* outer, const CLSID& clsid);
  ~CSource() override;

  VANTISOL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override;

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

  // The filter's state lock, held around format changes and state changes.
  CCritSec* pStateLock() { return &state_lock_; }
  bool IsStopped() const { return state_ == State_Stopped; }
  IFilterGraph* graph() const { return graph_; }
  int GetPinCount() const { return static_cast<int>(pins_.size()); }
  CSourceStream* GetPin(int index) const;

 private:
  friend class CSourceStream;
  void AddPin(CSourceStream* pin);
  void RemovePin(CSourceStream* pin);

  CCritSec state_lock_;
  CLSID clsid_;
  FILTER_STATE state_ = State_Stopped;
  IReferenceClock* clock_ = nullptr;
  // Not referenced: the graph owns the filter.
  IFilterGraph* graph_ = nullptr;
  std::wstring name_;
  std::vector<CSourceStream*> pins_;
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  CBasePin(CSource* filter, CCritSec* lock, const wchar_t* name, PIN_DIRECTION direction);
  ~CBasePin() override;

  // A pin lives as long as its filter: references count on the filter, queries stay on the pin.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return NonDelegatingQueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return filter_->GetOwner()->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return filter_->GetOwner()->Release(); }
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override;

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                       double rate) override;
  // IQualityControl: a live source cannot act on quality messages; it answers and goes on.
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

  // Negotiation hooks.
  virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
  // The pin's preferred types by index: S_OK, or VFW_S_NO_MORE_ITEMS past the end.
  virtual HRESULT GetMediaType(int index, CMediaType* type);
  virtual HRESULT SetMediaType(const CMediaType* type);
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT CompleteConnect(IPin* receive_pin);
  virtual HRESULT BreakConnect();

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* GetConnected() const { return connected_; }
  CSource* filter() const { return filter_; }
  const wchar_t* name() const { return name_.c_str(); }

 protected:
  CSource* filter_;
  CCritSec* lock_;
  std::wstring name_;
  PIN_DIRECTION direction_;
  IPin* connected_ = nullptr;
  CMediaType mt_;

 private:
  HRESULT AgreeMediaType(IPin* receive_pin, const AM_MEDIA_TYPE* partial);
  HRESULT TryConnect(IPin* receive_pin, const CMediaType& type);
};

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(CSource* filter, CCritSec* lock, const wchar_t* name);
  // A pin released while still connected lets go of the allocator and the peer's input.
  ~CBaseOutputPin() override { CBaseOutputPin::BreakConnect(); }

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receive_pin) override;
  HRESULT BreakConnect() override;

  // Sets the buffer count and size that the pin needs on the allocator.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  // Stream start and stop: commit and decommit the allocator.
  virtual HRESULT Active();
  virtual HRESULT Inactive();

  HRESULT GetDeliveryBuffer(IMediaSample** sample);
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();

 protected:
  IMemInputPin* input_pin_ = nullptr;
  IMemAllocator* allocator_ = nullptr;

 private:
  HRESULT DecideAllocator(IMemInputPin* input, IMemAllocator** allocator);
};

class CSourceStream : public CBaseOutputPin {
 public:
  CSourceStream(HRESULT* result, CSource* filter, const wchar_t* name);
  ~CSourceStream() override;

  HRESULT Active() override;
  HRESULT Inactive() override;
  // The filter's Run and its Pause while running.
  HRESULT Run();
  HRESULT PauseStreaming();

 protected:
  // Called on the streaming thread: fill one sample; S_FALSE ends the stream.
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }

 private:
  enum class Command { kNone, kInit, kPause, kRun, kStop, kExit };
  HRESULT CallWorker(Command command);
  Command GetRequest();
  bool CheckRequest(Command* command);
  void Reply(HRESULT result);
  void ThreadProc();
  void DoBufferProcessingLoop();

  std::thread thread_;
  std::mutex caller_;  // one caller at a time
  std::mutex command_lock_;
  std::condition_variable command_changed_;
  Command command_ = Command::kNone;
  bool replied_ = false;
  HRESULT reply_ = S_OK;
};

}  // namespace vantisol
