// The program's icon, drawn on a 256-unit square as the SVG is.
#include "ui/platform/program_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace vov::ui {

QImage drawProgramIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);
  auto table = [&p](qreal x, QColor header) {
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 6));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(x, 36, 100, 184), 6, 6);
    p.fillRect(QRectF(x + 3, 39, 94, 40), header);
    p.setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 5));
    p.drawLine(QPointF(x + 3, 126), QPointF(x + 97, 126));
    p.drawLine(QPointF(x + 3, 172), QPointF(x + 97, 172));
  };
  table(12, QColor(0x00, 0x00, 0x80));
  table(144, QColor(0x80, 0x00, 0x00));
  QPainterPath arrow;
  arrow.moveTo(52, 134);
  arrow.lineTo(150, 134);
  arrow.lineTo(150, 104);
  arrow.lineTo(214, 149);
  arrow.lineTo(150, 194);
  arrow.lineTo(150, 164);
  arrow.lineTo(52, 164);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0x00, 0x58, 0x00), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(0x00, 0x90, 0x00));
  p.drawPath(arrow);
  return image;
}

}  // namespace vov::ui
