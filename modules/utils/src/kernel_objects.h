#pragma once

// Named kernel objects of the user's logon (file mappings, mutexes, single-instance markers) with
// the Win32 semantics: an object lives while any process holds a handle to it, a mutex whose
// holder ended is reported as abandoned. Implemented once per platform (src/posix, src/win32).

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantisol::platform {

struct Mapping;
struct Mutex;
struct InstanceMarker;

// Opens the existing mapping of that name; null when there is none.
Mapping* OpenMapping(const std::string& name);
// Creates a read-write mapping of `size` bytes, or opens the existing one of that name; `created`
// tells which. Null on failure.
Mapping* CreateMapping(const std::string& name, uint32_t size, bool* created);
// Maps the whole mapping read-write; null on failure.
void* MapView(Mapping* mapping);
// The bytes a view really holds, whatever size the creator asked for; a peer's block may be short.
size_t ViewSize(Mapping* mapping, void* view);
void UnmapView(Mapping* mapping, void* view);
void CloseMapping(Mapping* mapping);

// Opens or creates the named mutex (not owned); null on failure.
Mutex* CreateNamedMutex(const std::string& name);
enum class WaitResult { kSuccess, kAbandoned, kFailed };
// Waits without time-out. After kAbandoned the caller owns the mutex.
WaitResult WaitMutex(Mutex* mutex);
bool ReleaseNamedMutex(Mutex* mutex);
void CloseNamedMutex(Mutex* mutex);

constexpr int kErrorAccessDenied = 5;
constexpr int kErrorAlreadyExists = 183;
// Claims `name` until the marker is released or its process ends. Returns the marker with `error`
// 0 when no other marker of that name lives, in this process or another; otherwise null with
// kErrorAlreadyExists, kErrorAccessDenied or another system error code.
InstanceMarker* CreateInstanceMarker(const std::string& name, int* error);
void ReleaseInstanceMarker(InstanceMarker* marker);
// Whether a live marker of that name exists, without making one. The answer touches the marker for
// a moment, so a marker made at that very moment may be refused. When it cannot tell, it says held.
bool InstanceMarkerHeld(const std::string& name);

// The calling thread's last system error as the system's text; empty when there is none.
std::string LastErrorText();

}  // namespace vantisol::platform
