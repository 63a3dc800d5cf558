#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace vantisol {
namespace test {

// Qt's warnings and errors since the last call (the test binary records every Qt message).
QStringList TakeQtWarnings();

// Saves a picture as <name>.png into $VANTISOL_SCREENSHOT_DIR when that is set.
void SaveScreenshot(const QImage& image, const QString& name);

// The text of a form file in the source tree.
QString ReadForm(const QString& file_name);

}  // namespace test
}  // namespace vantisol
