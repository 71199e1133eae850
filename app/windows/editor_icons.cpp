#include "app/windows/editor_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zelv {

namespace {

constexpr int kSize = 32;

// A sheet of a table: white with grey row lines and one column line, the rows 6 px apart.
void DrawTable(QPainter& p) {
  p.setPen(QPen(QColor(90, 90, 90), 1.5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(3.5, 3.5, 22, 25));
  p.setPen(QPen(QColor(150, 150, 150), 1));
  for (int y = 10; y <= 22; y += 6) p.drawLine(QPointF(4, y + 0.5), QPointF(25, y + 0.5));
  p.drawLine(QPointF(10.5, 4), QPointF(10.5, 28));
}

// A round badge with a plus or minus sign at (cx, cy).
void DrawBadge(QPainter& p, double cx, double cy, const QColor& colour, bool plus) {
  p.setPen(QPen(colour.darker(140), 1));
  p.setBrush(colour);
  p.drawEllipse(QPointF(cx, cy), 7, 7);
  p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(cx - 3.5, cy), QPointF(cx + 3.5, cy));
  if (plus) p.drawLine(QPointF(cx, cy - 3.5), QPointF(cx, cy + 3.5));
}

void DrawDisk(QPainter& p) {
  QPainterPath body;
  body.moveTo(4, 4);
  body.lineTo(24, 4);
  body.lineTo(28, 8);
  body.lineTo(28, 28);
  body.lineTo(4, 28);
  body.closeSubpath();
  p.setPen(QPen(QColor(20, 40, 90), 1.5));
  p.setBrush(QColor(45, 85, 160));
  p.drawPath(body);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(210, 215, 225));
  p.drawRect(QRectF(9, 5, 13, 8));  // shutter
  p.setBrush(QColor(45, 85, 160));
  p.drawRect(QRectF(17, 6, 3, 6));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(8, 17, 16, 10));  // label
  p.setPen(QPen(QColor(160, 160, 160), 1));
  p.drawLine(QPointF(10, 20.5), QPointF(22, 20.5));
  p.drawLine(QPointF(10, 23.5), QPointF(22, 23.5));
}

}  // namespace

QIcon MakeEditorIcon(EditorIcon kind) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor green(40, 150, 60);
  const QColor red(200, 45, 40);
  switch (kind) {
    case EditorIcon::Save:
      DrawDisk(p);
      break;
    case EditorIcon::InsertRow:
      DrawTable(p);
      p.fillRect(QRectF(11, 11, 14, 5), QColor(255, 235, 150));  // the new row in the middle
      DrawBadge(p, 23, 13.5, green, true);
      break;
    case EditorIcon::AppendRow:
      DrawTable(p);
      p.fillRect(QRectF(11, 23, 14, 5), QColor(255, 235, 150));  // the new last row
      DrawBadge(p, 23, 24, green, true);
      break;
    case EditorIcon::DeleteRow:
      DrawTable(p);
      DrawBadge(p, 23, 13.5, red, false);
      break;
    case EditorIcon::Clear:
      DrawTable(p);
      p.setPen(QPen(red, 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(16, 16), QPointF(28, 28));
      p.drawLine(QPointF(28, 16), QPointF(16, 28));
      break;
  }
  p.end();
  return QIcon(pixmap);
}

}  // namespace zelv
