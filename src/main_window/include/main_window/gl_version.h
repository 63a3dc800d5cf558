#pragma once

#include <QString>

namespace vantisol {

// Major and minor of a GL_VERSION text such as "4.5 (Core Profile) Mesa 22.3.6": the leading
// decimal digits of its first two "."-separated parts (none read as 0).
struct GlVersion {
  int major = 0;
  int minor = 0;
};
GlVersion ParseGlVersion(const QString& version);
// At least 4.3.
bool IsGlVersionSufficient(const GlVersion& version);

}  // namespace vantisol
