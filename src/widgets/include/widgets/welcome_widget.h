#pragma once

#include <QWidget>

#include "ui_welcome_widget.h"

namespace vantisol {

// The first-start message over the whole main window: a darkened backdrop with a centred card.
class WelcomeWidget : public QWidget, public Ui::WelcomeWidget {
  Q_OBJECT

 public:
  explicit WelcomeWidget(QWidget* parent);

  // Covers `parent` and centres the card on it; the main window calls it on every resize.
  void FitToParent(QWidget* parent);
};

}  // namespace vantisol
