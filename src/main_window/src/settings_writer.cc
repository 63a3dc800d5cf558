#include "main_window/settings_writer.h"

#include <easylogging++.h>

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QVariant>

namespace vantisol {

namespace {

// Why `file` cannot be written, in the operating system's words: the store opens the file itself
// when it exists and writes a new one beside it, and trials of both fail for the same reason.
QString WriteFailureReason(const QString& file) {
  QFile existing(file);
  if (existing.exists() && !existing.open(QIODevice::ReadWrite)) return existing.errorString();
  QSaveFile trial(file);
  if (!trial.open(QIODevice::WriteOnly)) return trial.errorString();
  trial.cancelWriting();
  return "access error";
}

}  // namespace

void SettingsWriter::Write(const QString& key, const QVariant& value) {
  QSettings store;
  store.setValue(key, value);
  store.sync();
  if (store.status() != QSettings::AccessError || failure_reported_) return;
  failure_reported_ = true;
  const QString file = store.fileName();
  const QString reason = WriteFailureReason(file);
  LOG(WARNING) << "Settings cannot be written to " << file.toStdString() << ": "
               << reason.toStdString();
  emit WriteFailed(file, reason);
}

}  // namespace vantisol
