#pragma once

// AM_MEDIA_TYPE with value semantics: copies own their format block.

#include <windows.h>
// windows.h first: the DirectShow headers rely on its types.
#include <strmif.h>

namespace vantisol {

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  CMediaType(const AM_MEDIA_TYPE& other);  // NOLINT: converts like the platform's type
  CMediaType(const CMediaType& other);
  ~CMediaType();
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);

  // A zeroed format block of `size` bytes; null when out of memory.
  BYTE* AllocFormatBuffer(ULONG size);
  // Copies `size` bytes into a new format block.
  bool SetFormat(const BYTE* format, ULONG size);
  void ResetFormatBuffer();
};

// Releases the format block and the interface of a type (not the type itself).
void FreeMediaType(AM_MEDIA_TYPE* type);
// Frees a type allocated with CreateMediaType, with its format block.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Copies into `target`, whose own content must already be free.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A task-memory copy that the caller frees with DeleteMediaType.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

}  // namespace vantisol
