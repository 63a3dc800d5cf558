#include "camera/session.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "camera/registry.h"

namespace vantisol {
namespace {

constexpr size_t kMaxPath = 260;
constexpr char kLibrary[] = "/libpxcsession.so";
constexpr char kLocalKeys[2][44] = {R"(Software\Intel\RSSDK\Dispatch)",
                                    R"(Software\Wow6432Node\Intel\RSSDK\Dispatch)"};
constexpr char kCoreKey[] = R"(Software\Intel\RSSDK\v8\Dispatch)";

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return "";
  std::string path(buffer, size_t(length));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

PXCSession* CreateSessionFromFile(const std::string& path, int local, std::string* refusal) {
  if (path.empty() || path.size() >= kMaxPath) return nullptr;
  // The library stays loaded for the life of the process: its sessions may outlive any caller.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  auto factory =
      reinterpret_cast<PXCSessionCreateExtFunction>(dlsym(library, "PXCSession_CreateExt"));
  if (!factory) return nullptr;
  PXCSession* session = nullptr;
  const pxcStatus status = factory(8, 0, 24, 0, local, 0, &session);
  if (!session && refusal) {
    // A runtime without words for it still has its status.
    auto words =
        reinterpret_cast<PXCSessionQueryErrorFunction>(dlsym(library, "PXCSession_QueryError"));
    const char* text = words ? words() : nullptr;
    *refusal = text && *text ? text : "status " + std::to_string(status);
  }
  return session;
}

PXCSession* FindSession(const Registry& registry, const std::string& executable_folder,
                        std::string* loaded_from, std::string* refusal) {
  auto attempt = [&](const std::string& path, int local) {
    PXCSession* session = CreateSessionFromFile(path, local, refusal);
    if (session && loaded_from) *loaded_from = path;
    return session;
  };
  for (const char* key : kLocalKeys) {
    const auto value = registry.ReadString(key, "LocalRuntime");
    if (!value) continue;
    const std::string path =
        (*value)[0] == '.' ? executable_folder + *value + kLibrary : *value + "/bin/x64" + kLibrary;
    if (PXCSession* session = attempt(path, 1)) return session;
    if (PXCSession* session =
            attempt(std::string("libpxc.cpp") + "/../.." + "/bin/x64" + kLibrary, 1))
      return session;
  }
  const auto core = registry.ReadString(kCoreKey, "Core");
  if (!core) return nullptr;
  return attempt(*core, 0);
}

PXCSession* CreateSession(std::string* refusal) {
  return FindSession(Registry::Machine(), ExecutableFolder(), nullptr, refusal);
}

}  // namespace vantisol
