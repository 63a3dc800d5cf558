#pragma once

#include <QLayout>
#include <QRect>
#include <QSize>

namespace vantisol {

// Holds one item at a fixed aspect ratio, as large as fits and centred; the parent's background
// shows in the bars.
class LetterboxLayout : public QLayout {
  Q_OBJECT

 public:
  explicit LetterboxLayout(QWidget* parent = nullptr);
  ~LetterboxLayout() override;

  // Replaces (and frees) an earlier item.
  void addItem(QLayoutItem* item) override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  int count() const override;

  QSize sizeHint() const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;

  float aspect_ratio() const { return aspect_ratio_; }

 public slots:
  // The ratio of `size`; a size without area leaves the ratio as it is.
  void UpdateAspectRatio(QSize size);

 private:
  QLayoutItem* item_ = nullptr;
  float aspect_ratio_ = 16.0f / 9.0f;
};

}  // namespace vantisol
