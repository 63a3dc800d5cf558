#include "update_check/update_check.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <array>
#include <optional>

#include "update_check/version_file.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

constexpr std::array<int, 3> kOwnVersion = {2, 6, 3};

}  // namespace

// Every type is checked before use, and the parser works without recursion so that deep nesting
// cannot exhaust the stack.
std::optional<VersionFile> ParseVersionFile(const QByteArray& body) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(
      body.constData(), size_t(body.size()));
  if (document.HasParseError() || !document.IsObject()) return std::nullopt;

  const auto version = document.FindMember("version");
  if (version == document.MemberEnd() || !version->value.IsString()) return std::nullopt;
  const QStringList parts =
      QString::fromUtf8(version->value.GetString(), int(version->value.GetStringLength()))
          .split('.', Qt::KeepEmptyParts);
  if (parts.size() != 3) return std::nullopt;
  static const QRegularExpression kNumber("^[0-9]+$");
  VersionFile file;
  for (int i = 0; i < 3; ++i) {
    bool ok = false;
    file.version[i] = kNumber.match(parts[i]).hasMatch() ? parts[i].toInt(&ok, 10) : 0;
    if (!ok) return std::nullopt;
  }

  const auto message = document.FindMember("message");
  if (message == document.MemberEnd() || !message->value.IsArray()) return std::nullopt;
  for (const auto& line : message->value.GetArray()) {
    if (!line.IsString()) return std::nullopt;
    file.message += QString::fromUtf8(line.GetString(), int(line.GetStringLength()));
  }
  return file;
}

UpdateCheck::UpdateCheck(QWidget* window)
    : QObject(window),
      network_(new QNetworkAccessManager(this)),
      base_address_(qEnvironmentVariableIsSet("VANTISOL_UPDATE_BASE_URL")
                        ? qEnvironmentVariable("VANTISOL_UPDATE_BASE_URL")
                        : QStringLiteral(VANTISOL_UPDATE_BASE_URL)),
      window_(window) {}

void UpdateCheck::Start() {
  // Unique: a second start must not handle every reply twice.
  connect(network_, &QNetworkAccessManager::finished, this, &UpdateCheck::ReadReply,
          Qt::UniqueConnection);
  network_->get(QNetworkRequest(QUrl(base_address_ + "/version.txt")));
}

void UpdateCheck::ReadReply(QNetworkReply* reply) {
  reply->deleteLater();
  const QByteArray body = reply->readAll();
  // An error page is no version file, whatever its body says.
  if (body.isEmpty() || reply->error() != QNetworkReply::NoError) {
    LOG(WARNING) << "Update check file not found or empty.";
    return;
  }
  const std::optional<VersionFile> file = ParseVersionFile(body);
  if (!file) {
    LOG(WARNING) << "Could not read update check file.";
    return;
  }
  // Lexicographic: a larger leading number wins, equal versions are not newer.
  if (file->version <= kOwnVersion) return;

  LOG(INFO) << "Update required.\n";
  QMessageBox box(QMessageBox::NoIcon, "Please update", file->message, QMessageBox::Ok, window_);
  box.setTextFormat(Qt::PlainText);  // the text comes from the network
  box.exec();
}

}  // namespace vantisol
