#include "main_window/gl_version.h"

#include <QStringList>

namespace vantisol {
namespace {

int LeadingNumber(const QString& part) {
  int value = 0;
  for (const QChar c : part) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
    value = value * 10 + (c.unicode() - '0');
    if (value > 100000) break;
  }
  return value;
}

}  // namespace

GlVersion ParseGlVersion(const QString& version) {
  const QStringList parts = version.split(QLatin1Char('.'));
  GlVersion result;
  result.major = LeadingNumber(parts.value(0));
  result.minor = LeadingNumber(parts.value(1));
  return result;
}

bool IsGlVersionSufficient(const GlVersion& version) {
  return version.major > 4 || (version.major == 4 && version.minor >= 3);
}

}  // namespace vantisol
