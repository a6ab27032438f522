// Keeps child widgets at their design distances from the edges of their
// parent while it is resized, as the form designer's anchors do: a child
// anchored to two opposite edges stretches, one anchored to the right or
// bottom edge alone moves with that edge.
#ifndef VOVARIZE_UI_PLATFORM_ANCHORS_H
#define VOVARIZE_UI_PLATFORM_ANCHORS_H

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <vector>

namespace vov::ui {

class Anchors : public QObject {
 public:
  // `parent` must have its design size while children are added.
  explicit Anchors(QWidget* parent);

  // Anchors `child` (at its design geometry) to `edges` of the parent.
  void add(QWidget* child, Qt::Edges edges);

  // Runs after every placing, for children that size themselves to what
  // the anchored ones leave free.
  std::function<void()> placed;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Item {
    QPointer<QWidget> child;
    Qt::Edges edges;
    QRect design;
  };
  void place(const Item& item) const;

  QWidget* parent_;
  QSize design_;
  std::vector<Item> items_;
};

}  // namespace vov::ui

#endif
