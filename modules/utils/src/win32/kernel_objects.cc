// Win32 side of the named kernel objects: page-file-backed file mappings and mutexes in the
// default local namespace of the user's logon. The kernel gives the lifetime and abandonment
// semantics directly.

#include "kernel_objects.h"

#include <windows.h>

#include "utils/path.h"
#include "utils/process.h"

namespace vantisol::platform {

namespace {
HANDLE Handle(void* object) { return static_cast<HANDLE>(object); }
}  // namespace

Mapping* OpenMapping(const std::string& name) {
  return static_cast<Mapping*>(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
}

Mapping* CreateMapping(const std::string& name, uint32_t size, bool* created) {
  SetLastError(0);
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
  *created = mapping != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  return static_cast<Mapping*>(mapping);
}

void* MapView(Mapping* mapping) {
  return MapViewOfFile(Handle(mapping), FILE_MAP_ALL_ACCESS, 0, 0, 0);
}

size_t ViewSize(Mapping*, void* view) {
  // The view's region, in whole pages: a block made smaller by a peer shows here.
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(view, &info, sizeof(info)) != sizeof(info)) return 0;
  return info.RegionSize;
}

void UnmapView(Mapping*, void* view) { UnmapViewOfFile(view); }

void CloseMapping(Mapping* mapping) { CloseHandle(Handle(mapping)); }

Mutex* CreateNamedMutex(const std::string& name) {
  return static_cast<Mutex*>(CreateMutexA(nullptr, FALSE, name.c_str()));
}

WaitResult WaitMutex(Mutex* mutex) {
  switch (WaitForSingleObject(Handle(mutex), INFINITE)) {
    case WAIT_OBJECT_0:
      return WaitResult::kSuccess;
    case WAIT_ABANDONED:
      return WaitResult::kAbandoned;
    default:
      return WaitResult::kFailed;
  }
}

bool ReleaseNamedMutex(Mutex* mutex) { return ReleaseMutex(Handle(mutex)) != 0; }

void CloseNamedMutex(Mutex* mutex) { CloseHandle(Handle(mutex)); }

InstanceMarker* CreateInstanceMarker(const std::string& name, int* error) {
  SetLastError(0);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  *error = static_cast<int>(GetLastError());
  if (*error == 0) return static_cast<InstanceMarker*>(mutex);
  // Not the first: holding the handle on would only keep the other process's claim alive.
  if (mutex != nullptr) CloseHandle(mutex);
  return nullptr;
}

void ReleaseInstanceMarker(InstanceMarker* marker) { CloseHandle(Handle(marker)); }

bool InstanceMarkerHeld(const std::string& name) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return true;
  }
  // Only a missing object is free; one of another security context is held.
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::string LastErrorText() {
  const DWORD error = GetLastError();
  if (error == 0) return {};
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string result(text != nullptr ? text : "", length);
  LocalFree(text);
  return result;
}

}  // namespace vantisol::platform

namespace vantisol::utils {

bool StartProcess(const std::string& file_name) {
  std::wstring application = Utf8ToWide(file_name);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(application.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    return false;
  }
  // The client never waits for the program.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace vantisol::utils
