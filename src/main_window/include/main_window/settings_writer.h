#pragma once

#include <QObject>
#include <QString>

class QVariant;

namespace vantisol {

// Writes the window's choices to the per-user store, opened afresh for each write. The first write
// that does not reach the file is logged with the file and the reason and announced through
// `WriteFailed`; later ones are silent, so one writer that lives as long as the program tells the
// user once.
class SettingsWriter : public QObject {
  Q_OBJECT

 public:
  void Write(const QString& key, const QVariant& value);

 signals:
  void WriteFailed(QString file, QString reason);

 private:
  bool failure_reported_ = false;
};

}  // namespace vantisol
