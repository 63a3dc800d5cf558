#include "widgets/welcome_widget.h"

namespace vantisol {

namespace {

// Centres by integer halving of the edges, as QRect::center does.
QPoint Centre(const QRect& rect) {
  return QPoint((rect.left() + rect.right()) / 2, (rect.top() + rect.bottom()) / 2);
}

}  // namespace

WelcomeWidget::WelcomeWidget(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  FitToParent(parent);
  show_welcome_checkbox_->setChecked(false);
}

void WelcomeWidget::FitToParent(QWidget* parent) {
  if (parent == nullptr) return;
  resize(parent->size());
  const QRect card = message_frame_->geometry();
  message_frame_->move(card.topLeft() + Centre(parent->rect()) - Centre(card));
}

}  // namespace vantisol
