// A splitter bar under a band aligned to the top of its window: dragging
// it changes the band's height and the window gives the rest to what lies
// below. While the mouse is held a hatched line shows where the bar will
// go; the band is resized when the mouse is released. The band keeps at
// least minSize pixels, a drag below that collapses it to nothing, and the
// part below keeps minSize pixels too.
#ifndef VOVARIZE_UI_PLATFORM_SPLITTER_H
#define VOVARIZE_UI_PLATFORM_SPLITTER_H

#include <QColor>
#include <QWidget>

namespace vov::ui {

class TSplitter : public QWidget {
  Q_OBJECT

 public:
  // `band` is the widget above the bar, inside the same parent.
  TSplitter(QWidget* parent, QWidget* band);

  int minSize = 30;
  int thickness = 6;
  QColor color{Qt::gray};

  // Lays the window out across its full width: the band `bandHeight`
  // high, the bar under it, and `below` filling the rest.
  void placeBands(int bandHeight, QWidget* below);

  // True while the mouse is held on the bar (the line is showing).
  bool dragging() const { return downY_ >= 0; }

 signals:
  // The band's new height, at the end of a drag.
  void moved(int bandHeight);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  int bandHeightFor(int globalY) const;
  void showLine(int bandHeight);

  QWidget* band_;
  QWidget* line_;
  int downY_ = -1;
  int startHeight_ = 0;
  int maxHeight_ = 0;
  int newHeight_ = 0;
};

}  // namespace vov::ui

#endif
