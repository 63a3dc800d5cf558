#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace vantisol {

// The update server's version file: {"version": "a.b.c", "message": ["line", ...]}.
struct VersionFile {
  std::array<int, 3> version;
  QString message;
};

// The reply comes over plain HTTP and may be anything: null unless every field has its type.
std::optional<VersionFile> ParseVersionFile(const QByteArray& body);

}  // namespace vantisol
