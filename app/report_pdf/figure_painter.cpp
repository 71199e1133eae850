#include "app/report_pdf/figure_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace zelv {
namespace {

QColor ToColour(FigureColour c) { return QColor(c.r, c.g, c.b); }

}  // namespace

void PaintFigure(QPainter& painter, const Figure& figure) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  for (const FigureShape& s : figure.shapes) {
    QPen pen(ToColour(s.stroke));
    pen.setWidthF(s.width);
    if (s.dashed) pen.setDashPattern({4 / std::max(0.1, s.width), 3 / std::max(0.1, s.width)});
    painter.setPen(pen);
    painter.setBrush(s.fill ? QBrush(ToColour(*s.fill)) : Qt::NoBrush);
    switch (s.kind) {
      case FigureShape::Kind::kLine:
        painter.drawLine(QPointF(s.x1, s.y1), QPointF(s.x2, s.y2));
        break;
      case FigureShape::Kind::kRectangle:
        painter.drawRect(QRectF(QPointF(s.x1, s.y1), QPointF(s.x2, s.y2)).normalized());
        break;
      case FigureShape::Kind::kCircle:
        painter.drawEllipse(QPointF(s.cx, s.cy), s.rx, s.rx);
        break;
      case FigureShape::Kind::kEllipse:
        painter.save();
        painter.translate(s.cx, s.cy);
        painter.rotate(s.angleDegrees);
        painter.drawEllipse(QPointF(0, 0), s.rx, s.ry);
        painter.restore();
        break;
      case FigureShape::Kind::kText: {
        QFont font = painter.font();
        // fontSize units of the figure before the painter's scale, whatever the device's dots per
        // inch.
        const int dpi = painter.device() ? painter.device()->logicalDpiY() : 96;
        font.setPointSizeF(s.fontSize * 72.0 / std::max(1, dpi));
        painter.setFont(font);
        const QString text = QString::fromStdString(s.text);
        const double width = QFontMetricsF(font, painter.device()).horizontalAdvance(text);
        const double x = s.align < 0 ? s.cx : s.align > 0 ? s.cx - width : s.cx - width / 2;
        painter.drawText(QPointF(x, s.cy), text);
        break;
      }
    }
  }
  painter.restore();
}

QImage FigureImage(const Figure& figure, double scale) {
  const int w = std::max(1, static_cast<int>(std::ceil(figure.width * scale)));
  const int h = std::max(1, static_cast<int>(std::ceil(figure.height * scale)));
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.scale(scale, scale);
  PaintFigure(painter, figure);
  return image;
}

}  // namespace zelv
