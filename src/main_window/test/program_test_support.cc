#include "program_test_support.h"

#include <easylogging++.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace vantisol::test {
namespace {

constexpr char kRecorderCallback[] = "test_log_recorder";

}  // namespace

std::vector<Hit> Hits(const HttpTestServer& server) {
  std::vector<Hit> hits;
  for (const HttpRequest& request : server.requests()) {
    if (request.method != "POST") continue;
    Hit hit;
    for (const auto& field : DecodeForm(request.body)) hit[field.first] = field.second;
    hits.push_back(hit);
  }
  return hits;
}

QString Describe(const Hit& hit) {
  if (hit.contains("sc")) return "session:" + hit["sc"];
  if (hit["t"] == "appview") return "appview:" + hit["cd"];
  if (hit["t"] == "exception") return "exception:" + hit["exd"] + ":" + hit["exf"];
  return hit["ec"] + "/" + hit["ea"] + "/" + hit["el"];
}

QStringList Describe(const std::vector<Hit>& hits) {
  QStringList described;
  for (const Hit& hit : hits) described << Describe(hit);
  return described;
}

class LogRecorder::Callback : public el::LogDispatchCallback {
 public:
  void Add(LogRecorder* recorder) {
    std::lock_guard<std::mutex> lock(mutex_);
    recorders_.push_back(recorder);
  }
  void Remove(LogRecorder* recorder) {
    std::lock_guard<std::mutex> lock(mutex_);
    recorders_.erase(std::find(recorders_.begin(), recorders_.end(), recorder));
  }
  QStringList LinesOf(const LogRecorder& recorder) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recorder.lines_;
  }

 protected:
  void handle(const el::LogDispatchData* data) override {
    const el::LogMessage* message = data->logMessage();
    std::lock_guard<std::mutex> lock(mutex_);
    if (recorders_.empty()) return;
    const QString line =
        QString::fromStdString(el::LevelHelper::convertToString(message->level())) + " " +
        QString::fromStdString(message->message());
    for (LogRecorder* recorder : recorders_) recorder->lines_ << line;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogRecorder*> recorders_;
};

void LogRecorder::Install() {
  el::Helpers::installLogDispatchCallback<Callback>(kRecorderCallback);
}

LogRecorder::LogRecorder()
    : callback_(el::Helpers::logDispatchCallback<Callback>(kRecorderCallback)) {
  if (callback_ == nullptr) {
    throw std::logic_error("LogRecorder::Install() was not called in the test program's main");
  }
  callback_->Add(this);
}

LogRecorder::~LogRecorder() { callback_->Remove(this); }

QStringList LogRecorder::lines() const { return callback_->LinesOf(*this); }

bool LogRecorder::Contains(const QString& text) const { return Count(text) > 0; }

int LogRecorder::Count(const QString& text) const {
  int count = 0;
  for (const QString& line : lines()) count += line.contains(text) ? 1 : 0;
  return count;
}

ShownText Shown(const QMessageBox& box) {
  ShownText shown;
  const auto* label = box.findChild<QLabel*>("qt_msgbox_label");
  if (label == nullptr) return shown;
  const bool rich = label->textFormat() == Qt::RichText ||
                    (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
  QTextDocument document;
  if (rich) {
    document.setHtml(label->text());
  } else {
    document.setPlainText(label->text());
  }
  shown.plain = document.toPlainText();
  const bool clickable =
      label->openExternalLinks() && (label->textInteractionFlags() & Qt::LinksAccessibleByMouse);
  if (!rich || !clickable) return shown;
  // An anchor may span several fragments (styled parts of its label): one link each.
  QString previous;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      const QTextCharFormat format = fragment.fragment().charFormat();
      const QString href = format.isAnchor() ? format.anchorHref() : QString();
      if (!href.isEmpty() && href != previous) shown.links << href;
      previous = href;
    }
    previous.clear();
  }
  return shown;
}

BoxCloser::BoxCloser() {
  timer_.setInterval(50);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes_ << box->windowTitle() + "|" + box->text();
      shown_ << Shown(*box);
    } else {
      boxes_ << modal->windowTitle() + "|";
    }
    modal->close();
  });
  timer_.start();
}

// The mark's place: 0.3 of the width, centred at 0.16 of the width and 0.91 of the height.
double WatermarkDifference(const QImage& frame, double shift) {
  const QImage mark = QImage(WATERMARK_PNG).convertToFormat(QImage::Format_ARGB32);
  const double width = 0.3 * frame.width();
  const double height = frame.height() * (double(frame.width()) / frame.height()) * 0.3 /
                        (double(mark.width()) / mark.height());
  const double left = (0.16 + shift) * frame.width() - 0.5 * width;
  const double top = 0.91 * frame.height() - 0.5 * height;
  double sum = 0;
  int count = 0;
  for (int y = 0; y < mark.height(); y += 2) {
    for (int x = 0; x < mark.width(); x += 2) {
      const QRgb m = mark.pixel(x, y);
      if (qAlpha(m) < 250) continue;
      const int fx = int(left + (x + 0.5) * width / mark.width());
      const int fy = int(top + (y + 0.5) * height / mark.height());
      if (!frame.rect().contains(fx, fy)) continue;
      const QRgb f = frame.pixel(fx, fy);
      sum += std::abs(qRed(m) - qRed(f)) + std::abs(qGreen(m) - qGreen(f)) +
             std::abs(qBlue(m) - qBlue(f));
      ++count;
    }
  }
  return count > 0 ? sum / (3.0 * count) : 1e9;
}

}  // namespace vantisol::test
