#include "com.h"

#include <new>

namespace vantisol {

std::atomic<long> ModuleCount::objects_{0};
std::atomic<long> ModuleCount::locks_{0};

CUnknown::CUnknown(IUnknown* outer)
    : owner_(outer != nullptr
                 ? outer
                 : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {
  ModuleCount::AddObject();
}

CUnknown::~CUnknown() { ModuleCount::RemoveObject(); }

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) {
    // The non-delegating vtable has IUnknown's layout: this is the inner object's identity.
    return GetInterface(reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)),
                        object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
  const long left = --references_;
  if (left == 0) {
    // Guards against a release from the destructor's own calls.
    references_ = 1;
    delete this;
  }
  return static_cast<ULONG>(left);
}

HRESULT GetInterface(IUnknown* object, void** result) {
  if (result == nullptr) return E_POINTER;
  *result = object;
  object->AddRef();
  return S_OK;
}

CClassFactory::CClassFactory(const CFactoryTemplate* entry) : CUnknown(nullptr), entry_(entry) {}

HRESULT STDMETHODCALLTYPE CClassFactory::NonDelegatingQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid,
                                                        void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // An aggregating caller must ask for the inner object's own IUnknown.
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  HRESULT result = S_OK;
  CUnknown* created = entry_->create(outer, &result);
  if (created == nullptr) return FAILED(result) ? result : E_OUTOFMEMORY;
  if (FAILED(result)) {
    delete created;
    return result;
  }
  created->NonDelegatingAddRef();
  result = created->NonDelegatingQueryInterface(riid, object);
  created->NonDelegatingRelease();
  return result;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
  ModuleCount::Lock(lock != FALSE);
  return S_OK;
}

HRESULT CClassFactory::GetClassObject(const CFactoryTemplate* table, int count, REFCLSID clsid,
                                      REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  for (int i = 0; i < count; ++i) {
    if (*table[i].clsid != clsid) continue;
    CClassFactory* factory = new (std::nothrow) CClassFactory(&table[i]);
    if (factory == nullptr) return E_OUTOFMEMORY;
    factory->NonDelegatingAddRef();
    const HRESULT result = factory->NonDelegatingQueryInterface(riid, object);
    factory->NonDelegatingRelease();
    return result;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CClassFactory::CanUnloadNow() { return ModuleCount::Idle() ? S_OK : S_FALSE; }

}  // namespace vantisol
