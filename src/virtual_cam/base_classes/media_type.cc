#include "media_type.h"

#include <cstring>

namespace vantisol {

void FreeMediaType(AM_MEDIA_TYPE* type) {
  if (type->cbFormat != 0 || type->pbFormat != nullptr) CoTaskMemFree(type->pbFormat);
  type->cbFormat = 0;
  type->pbFormat = nullptr;
  if (type->pUnk != nullptr) {
    type->pUnk->Release();
    type->pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  FreeMediaType(type);
  CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat != nullptr) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat == nullptr) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk != nullptr) target->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (type == nullptr) return nullptr;
  if (FAILED(CopyMediaType(type, source))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} {
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} {
  CopyMediaType(this, &other);
}

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE{} { CopyMediaType(this, &other); }

CMediaType::~CMediaType() { FreeMediaType(this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  if (&other != this) {
    FreeMediaType(this);
    CopyMediaType(this, &other);
  }
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

BYTE* CMediaType::AllocFormatBuffer(ULONG size) {
  ResetFormatBuffer();
  pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (pbFormat == nullptr) return nullptr;
  std::memset(pbFormat, 0, size);
  cbFormat = size;
  return pbFormat;
}

bool CMediaType::SetFormat(const BYTE* format, ULONG size) {
  if (AllocFormatBuffer(size) == nullptr) return false;
  std::memcpy(pbFormat, format, size);
  return true;
}

void CMediaType::ResetFormatBuffer() {
  CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

}  // namespace vantisol
