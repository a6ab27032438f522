// Anchor layout.
#include "ui/platform/anchors.h"

#include <QEvent>

#include <algorithm>

namespace vov::ui {

Anchors::Anchors(QWidget* parent) : QObject(parent), parent_(parent), design_(parent->size()) {
  parent->installEventFilter(this);
}

void Anchors::add(QWidget* child, Qt::Edges edges) {
  items_.push_back({child, edges, child->geometry()});
  place(items_.back());
}

// Positions follow from the design geometry every time, never from the
// last one, so shrinking to nothing and growing back loses no distance.
void Anchors::place(const Item& item) const {
  if (!item.child) return;
  const QRect d = item.design;
  const int right = design_.width() - d.right() - 1;    // design distance to the right edge
  const int bottom = design_.height() - d.bottom() - 1; // and to the bottom edge
  const QSize now = parent_->size();
  int x = d.x(), w = d.width(), y = d.y(), h = d.height();
  if (item.edges & Qt::RightEdge) {
    if (item.edges & Qt::LeftEdge) w = std::max(0, now.width() - right - x);
    else x = now.width() - right - w;
  }
  if (item.edges & Qt::BottomEdge) {
    if (item.edges & Qt::TopEdge) h = std::max(0, now.height() - bottom - y);
    else y = now.height() - bottom - h;
  }
  item.child->setGeometry(x, y, w, h);
}

bool Anchors::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent_ && event->type() == QEvent::Resize) {
    for (const Item& item : items_) place(item);
    if (placed) placed();
  }
  return false;
}

}  // namespace vov::ui
