#pragma once

// The COM plumbing of an in-process DirectShow server: locks, a reference-counted object whose
// IUnknown can be aggregated, and the class factory over a table of creatable classes.

#include <windows.h>
// windows.h first: the COM headers rely on its types.
#include <unknwn.h>

#include <atomic>

namespace vantisol {

class CCritSec {
 public:
  CCritSec() { InitializeCriticalSection(&section_); }
  ~CCritSec() { DeleteCriticalSection(&section_); }
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  void Lock() { EnterCriticalSection(&section_); }
  void Unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
  ~CAutoLock() { lock_->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* lock_;
};

// The object's own IUnknown, which an aggregating outer object keeps for itself.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Counts the live objects and server locks that keep the library loaded.
class ModuleCount {
 public:
  static void AddObject() { objects_++; }
  static void RemoveObject() { objects_--; }
  static void Lock(bool lock) { lock ? locks_++ : locks_--; }
  static bool Idle() { return objects_ == 0 && locks_ == 0; }

 private:
  static std::atomic<long> objects_;
  static std::atomic<long> locks_;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  // `outer` is the aggregating object, or null when this object stands alone.
  explicit CUnknown(IUnknown* outer);
  virtual ~CUnknown();
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Where the public IUnknown calls go: the outer object, or this object's own.
  IUnknown* GetOwner() const { return owner_; }

 protected:
  IUnknown* owner_;
  std::atomic<long> references_{0};
};

// Hands out `object` as `*result` with a reference added.
HRESULT GetInterface(IUnknown* object, void** result);

// The public IUnknown of a class derived from CUnknown: every call goes to the owner.
#define VANTISOL_DECLARE_IUNKNOWN                                                 \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override { \
    return GetOwner()->QueryInterface(riid, object);                              \
  }                                                                               \
  ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }      \
  ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

// One creatable class of the server.
struct CFactoryTemplate {
  const wchar_t* name;
  const CLSID* clsid;
  CUnknown* (*create)(IUnknown* outer, HRESULT* result);
};

class CClassFactory : public IClassFactory, public CUnknown {
 public:
  explicit CClassFactory(const CFactoryTemplate* entry);
  VANTISOL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** object) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  // The server's DllGetClassObject and DllCanUnloadNow over a table of classes.
  static HRESULT GetClassObject(const CFactoryTemplate* table, int count, REFCLSID clsid,
                                REFIID riid, void** object);
  static HRESULT CanUnloadNow();

 private:
  const CFactoryTemplate* entry_;
};

}  // namespace vantisol
