// POSIX side of the named kernel objects.
//
// Where they live: one private folder per user, "$XDG_RUNTIME_DIR/vantisol" (a per-user tmpfs),
// or "/dev/shm/vantisol-<uid>" when that variable is unset (e.g. CI as root). The folder must be
// ours and closed to others, so two users never see each other's objects. Each object is a file
// named after its kind and its name, with every byte outside [A-Za-z0-9._-] written as %XX (so
// "::" and blanks are fine).
//
// Lifetime: every holder of a mapping or mutex file keeps a shared flock on its own descriptor.
// Closing the last handle (its exclusive flock succeeds) unlinks the file. A holder that was
// killed loses its flock with its process, so a file nobody locks is a leftover of a crash: the
// next opener removes it and starts afresh. Open, create and close run under an exclusive flock of
// the folder's "lock" file, which makes these steps atomic between processes.
//
// Mutex: a robust, recursive, process-shared pthread mutex in its own mapping file. A holder that
// ended while owning it gives EOWNERDEAD: reported as abandoned, the caller owns it.
//
// Single-instance marker: an exclusive flock on "instance.<name>", held by a descriptor of its own
// (a lock per open file description, so a second marker in the same process is refused too) until
// it is released; the kernel releases it however the process ends. Taking and releasing run under
// the folder lock, so that releasing may remove the file.

#include "kernel_objects.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "utils/process.h"

extern char** environ;

namespace vantisol::platform {

struct Mapping {
  int fd = -1;
  size_t size = 0;
  std::string file;
};

struct Mutex {
  Mapping* mapping = nullptr;
  pthread_mutex_t* mutex = nullptr;
};

struct InstanceMarker {
  int fd = -1;
  std::string file;
};

namespace {

// Keeps errno across clean-up calls, so the caller's error text names the first failure.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

// Why the last failure happened, beyond what errno says, with the errno it explains: like errno,
// it belongs to the calling thread.
struct FailureDetail {
  int error = 0;
  std::string text;
};
thread_local FailureDetail failure_detail;

void SetFailureDetail(int error, std::string text) {
  failure_detail = {error, std::move(text)};
  errno = error;
}

// Why a folder that IsPrivateFolder refused is not ours alone.
std::string FolderRefusal(const std::string& folder) {
  std::string why = "object folder " + folder + " refused: ";
  struct stat info;
  if (lstat(folder.c_str(), &info) != 0) return why + "cannot be read";
  if (S_ISLNK(info.st_mode)) return why + "it is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return why + "it is no folder";
  if (info.st_uid != geteuid()) {
    return why + "owned by user " + std::to_string(info.st_uid) + ", not by this user (" +
           std::to_string(geteuid()) + ")";
  }
  char mode[8];
  std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return why + "open to other users (mode " + mode + ")";
}

bool IsPrivateFolder(const std::string& folder) {
  struct stat info;
  if (lstat(folder.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
    errno = EACCES;
    return false;
  }
  return true;
}

// The user's object folder, made on first use; empty (errno set) when it is not safe to use.
std::string ObjectFolder() {
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    folder = std::string(runtime) + "/vantisol";
  } else {
    folder = "/dev/shm/vantisol-" + std::to_string(geteuid());
  }
  failure_detail = {};
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    SetFailureDetail(errno, "object folder " + folder + " cannot be made");
    return {};
  }
  if (!IsPrivateFolder(folder)) {
    SetFailureDetail(errno, FolderRefusal(folder));
    return {};
  }
  return folder;
}

std::string ObjectFile(const std::string& folder, const char* kind, const std::string& name) {
  std::string file = folder + "/" + kind + ".";
  for (const unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
        c == '_' || c == '-') {
      file += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      file += escaped;
    }
  }
  return file;
}

// Holds the folder's lock file exclusively for one open, create or close step.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder) {
    fd_ = open((folder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      ErrnoKeeper keep;
      close(fd_);
      fd_ = -1;
    }
  }
  ~FolderLock() {
    if (fd_ < 0) return;
    ErrnoKeeper keep;
    close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Opens a live object file and joins its holders; -1 (errno ENOENT) when there is none or when it
// is a crash's leftover, which is removed. Runs under the folder lock.
int OpenLiveFile(const std::string& file) {
  const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    unlink(file.c_str());
    close(fd);
    errno = ENOENT;
    return -1;
  }
  if (flock(fd, LOCK_SH) != 0) {
    ErrnoKeeper keep;
    close(fd);
    return -1;
  }
  return fd;
}

// The file's space is reserved here: on a full file system the creation fails, where a sparse
// file would end the first writer with SIGBUS.
int CreateLiveFile(const std::string& file, uint32_t size) {
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  const int reserved = size > 0 ? posix_fallocate(fd, 0, size) : 0;
  if (reserved != 0) errno = reserved;
  if (reserved != 0 || flock(fd, LOCK_SH) != 0) {
    ErrnoKeeper keep;
    unlink(file.c_str());
    close(fd);
    return -1;
  }
  return fd;
}

Mapping* MakeMapping(int fd, std::string file) {
  struct stat info;
  if (fstat(fd, &info) != 0) return nullptr;
  auto* mapping = new Mapping;
  mapping->fd = fd;
  mapping->size = static_cast<size_t>(info.st_size);
  mapping->file = std::move(file);
  return mapping;
}

Mapping* OpenObject(const char* kind, const std::string& name) {
  const std::string folder = ObjectFolder();
  if (folder.empty()) return nullptr;
  FolderLock lock(folder);
  if (!lock.locked()) return nullptr;
  const std::string file = ObjectFile(folder, kind, name);
  const int fd = OpenLiveFile(file);
  if (fd < 0) return nullptr;
  Mapping* mapping = MakeMapping(fd, file);
  if (mapping == nullptr) {
    ErrnoKeeper keep;
    close(fd);
  }
  return mapping;
}

// `initialise` runs on a newly created file before any other process can open it.
template <typename Initialise>
Mapping* CreateObject(const char* kind, const std::string& name, uint32_t size, bool* created,
                      Initialise initialise) {
  *created = false;
  const std::string folder = ObjectFolder();
  if (folder.empty()) return nullptr;
  FolderLock lock(folder);
  if (!lock.locked()) return nullptr;
  const std::string file = ObjectFile(folder, kind, name);
  int fd = OpenLiveFile(file);
  if (fd < 0) {
    if (errno != ENOENT) return nullptr;
    fd = CreateLiveFile(file, size);
    if (fd < 0) return nullptr;
    *created = true;
  }
  Mapping* mapping = MakeMapping(fd, file);
  if (mapping != nullptr && *created && !initialise(mapping)) {
    ErrnoKeeper keep;
    unlink(file.c_str());
    delete mapping;
    mapping = nullptr;
  }
  if (mapping == nullptr) {
    ErrnoKeeper keep;
    close(fd);
  }
  return mapping;
}

void CloseObject(Mapping* mapping) {
  ErrnoKeeper keep;
  const std::string folder = mapping->file.substr(0, mapping->file.rfind('/'));
  FolderLock lock(folder);
  // Only the last holder gets the exclusive lock. Without the folder lock the file stays, and the
  // next opener treats it as a leftover.
  if (lock.locked() && flock(mapping->fd, LOCK_EX | LOCK_NB) == 0) unlink(mapping->file.c_str());
  close(mapping->fd);
  delete mapping;
}

bool InitialiseMutex(Mapping* mapping) {
  void* view = MapView(mapping);
  if (view == nullptr) return false;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  // Win32 mutexes may be taken again by their owner.
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  const int result = pthread_mutex_init(static_cast<pthread_mutex_t*>(view), &attributes);
  pthread_mutexattr_destroy(&attributes);
  UnmapView(mapping, view);
  errno = result;
  return result == 0;
}

}  // namespace

Mapping* OpenMapping(const std::string& name) { return OpenObject("map", name); }

Mapping* CreateMapping(const std::string& name, uint32_t size, bool* created) {
  return CreateObject("map", name, size, created, [](Mapping*) { return true; });
}

void* MapView(Mapping* mapping) {
  if (mapping->size == 0) {
    errno = EINVAL;
    return nullptr;
  }
  void* view = mmap(nullptr, mapping->size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping->fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

size_t ViewSize(Mapping* mapping, void*) { return mapping->size; }

void UnmapView(Mapping* mapping, void* view) {
  ErrnoKeeper keep;
  munmap(view, mapping->size);
}

void CloseMapping(Mapping* mapping) { CloseObject(mapping); }

Mutex* CreateNamedMutex(const std::string& name) {
  bool created = false;
  Mapping* mapping =
      CreateObject("mutex", name, sizeof(pthread_mutex_t), &created, InitialiseMutex);
  if (mapping == nullptr) return nullptr;
  // A peer's file too short for the mutex would leave part of it unshared.
  if (mapping->size < sizeof(pthread_mutex_t)) {
    const std::string file = mapping->file;
    const size_t size = mapping->size;
    CloseObject(mapping);
    SetFailureDetail(EINVAL, "mutex file " + file + " holds " + std::to_string(size) +
                                 " bytes, fewer than a mutex needs");
    return nullptr;
  }
  void* view = MapView(mapping);
  if (view == nullptr) {
    CloseObject(mapping);
    return nullptr;
  }
  auto* mutex = new Mutex;
  mutex->mapping = mapping;
  mutex->mutex = static_cast<pthread_mutex_t*>(view);
  return mutex;
}

WaitResult WaitMutex(Mutex* mutex) {
  const int result = pthread_mutex_lock(mutex->mutex);
  if (result == 0) return WaitResult::kSuccess;
  if (result == EOWNERDEAD) {
    pthread_mutex_consistent(mutex->mutex);
    return WaitResult::kAbandoned;
  }
  errno = result;
  return WaitResult::kFailed;
}

bool ReleaseNamedMutex(Mutex* mutex) {
  const int result = pthread_mutex_unlock(mutex->mutex);
  errno = result;
  return result == 0;
}

void CloseNamedMutex(Mutex* mutex) {
  UnmapView(mutex->mapping, mutex->mutex);
  CloseObject(mutex->mapping);
  delete mutex;
}

InstanceMarker* CreateInstanceMarker(const std::string& name, int* error) {
  const std::string folder = ObjectFolder();
  if (folder.empty()) {
    *error = errno == EACCES || errno == EPERM ? kErrorAccessDenied : errno;
    return nullptr;
  }
  FolderLock lock(folder);
  const std::string file = ObjectFile(folder, "instance", name);
  const int fd =
      lock.locked() ? open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600) : -1;
  if (fd < 0) {
    *error = errno == EACCES || errno == EPERM ? kErrorAccessDenied : errno;
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? kErrorAlreadyExists : errno;
    close(fd);
    return nullptr;
  }
  *error = 0;
  // The descriptor is the claim.
  return new InstanceMarker{fd, file};
}

void ReleaseInstanceMarker(InstanceMarker* marker) {
  ErrnoKeeper keep;
  FolderLock lock(marker->file.substr(0, marker->file.rfind('/')));
  // Only under the folder lock, where no opener stands between its open and its lock: one that
  // did would lock the removed file while the next opener makes and locks a new one.
  if (lock.locked()) unlink(marker->file.c_str());
  close(marker->fd);
  delete marker;
}

bool InstanceMarkerHeld(const std::string& name) {
  ErrnoKeeper keep;
  const std::string folder = ObjectFolder();
  if (folder.empty()) return true;
  // Under the folder lock no marker is being taken or released, so the shared lock below never
  // makes a new holder's exclusive one fail.
  FolderLock lock(folder);
  if (!lock.locked()) return true;
  const int fd =
      open(ObjectFile(folder, "instance", name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno != ENOENT;
  // A file that nobody locks is a crashed holder's leftover.
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0;
  close(fd);
  return held;
}

std::string LastErrorText() {
  const int error = errno;
  if (error == 0) return {};
  char buffer[256];
  const std::string text = strerror_r(error, buffer, sizeof(buffer));
  if (failure_detail.error == error && !failure_detail.text.empty()) {
    return failure_detail.text + ": " + text;
  }
  return text;
}

}  // namespace vantisol::platform

namespace vantisol::utils {

bool StartProcess(const std::string& file_name) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  char* const arguments[] = {const_cast<char*>(file_name.c_str()), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, file_name.c_str(), &actions, nullptr, arguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    return false;
  }
  // The caller never waits for the program; a detached reaper keeps it from staying a zombie.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace vantisol::utils
