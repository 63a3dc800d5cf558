#include "widgets/letterbox_layout.h"

#include "utils/logging.h"

namespace vantisol {

LetterboxLayout::LetterboxLayout(QWidget* parent) : QLayout(parent) {}

LetterboxLayout::~LetterboxLayout() { delete item_; }

void LetterboxLayout::addItem(QLayoutItem* item) {
  delete item_;
  item_ = item;
}

QLayoutItem* LetterboxLayout::itemAt(int index) const { return index == 0 ? item_ : nullptr; }

QLayoutItem* LetterboxLayout::takeAt(int index) {
  if (index != 0) return nullptr;
  QLayoutItem* item = item_;
  item_ = nullptr;
  return item;
}

int LetterboxLayout::count() const { return item_ != nullptr ? 1 : 0; }

QSize LetterboxLayout::sizeHint() const { return QSize(960, 540); }

QSize LetterboxLayout::minimumSize() const { return QSize(320, 160); }

void LetterboxLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  if (item_ == nullptr) return;
  const int w = rect.width();
  const int h = rect.height();
  int fitted_w = w;
  int fitted_h = static_cast<int>(static_cast<float>(w) / aspect_ratio_);
  if (fitted_h > h) {
    fitted_h = h;
    fitted_w = static_cast<int>(static_cast<float>(h) * aspect_ratio_);
  }
  const int left = rect.left() + (fitted_w < w ? static_cast<int>(w / 2.0f - fitted_w / 2.0f) : 0);
  const int top = rect.top() + (fitted_h < h ? static_cast<int>(h / 2.0f - fitted_h / 2.0f) : 0);
  item_->setGeometry(QRect(left, top, fitted_w, fitted_h));
}

void LetterboxLayout::UpdateAspectRatio(QSize size) {
  if (size.width() < 1 || size.height() < 1) {
    LOG(WARNING) << "Aspect ratio of an empty size ignored: " << size.width() << "x"
                 << size.height();
    return;
  }
  aspect_ratio_ = static_cast<float>(size.width()) / static_cast<float>(size.height());
  update();
}

}  // namespace vantisol
