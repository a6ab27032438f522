// The splitter bar.
#include "ui/platform/splitter.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace vov::ui {

namespace {

// The line drawn while dragging, hatched so it shows on any background.
class DragLine : public QWidget {
 public:
  explicit DragLine(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QBrush(Qt::darkGray, Qt::Dense4Pattern));
  }
};

}  // namespace

TSplitter::TSplitter(QWidget* parent, QWidget* band)
    : QWidget(parent), band_(band), line_(new DragLine(parent)) {
  setCursor(Qt::SplitVCursor);
}

void TSplitter::placeBands(int bandHeight, QWidget* below) {
  const QWidget* window = parentWidget();
  const int w = window->width();
  band_->setGeometry(0, 0, w, bandHeight);
  setGeometry(0, bandHeight, w, thickness);
  const int top = bandHeight + thickness;
  below->setGeometry(0, top, w, std::max(0, window->height() - top));
}

void TSplitter::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), color);
}

int TSplitter::bandHeightFor(int globalY) const {
  int h = std::min(startHeight_ + (globalY - downY_), maxHeight_);
  return h < minSize ? 0 : h;
}

void TSplitter::showLine(int bandHeight) {
  line_->setGeometry(0, band_->y() + bandHeight, parentWidget()->width(), height());
  line_->raise();
  line_->show();
}

void TSplitter::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  downY_ = e->globalPosition().toPoint().y();
  startHeight_ = newHeight_ = band_->height();
  maxHeight_ = std::max(0, parentWidget()->height() - height() - minSize);
  showLine(newHeight_);
}

void TSplitter::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging()) return;
  newHeight_ = bandHeightFor(e->globalPosition().toPoint().y());
  showLine(newHeight_);
}

void TSplitter::mouseReleaseEvent(QMouseEvent* e) {
  if (!dragging() || e->button() != Qt::LeftButton) return;
  newHeight_ = bandHeightFor(e->globalPosition().toPoint().y());
  downY_ = -1;
  line_->hide();
  if (newHeight_ != band_->height()) emit moved(newHeight_);
}

}  // namespace vov::ui
