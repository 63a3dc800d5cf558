// The update server's reply body.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "update_check/version_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray body(reinterpret_cast<const char*>(data), static_cast<int>(size));
  const auto file = vantisol::ParseVersionFile(body);
  if (file) {
    for (const int part : file->version) {
      if (part < 0) __builtin_trap();
    }
  }
  return 0;
}
