#include "app/windows/residual_picture.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <algorithm>
#include <cmath>

#include "base/angles.h"
#include "base/number_text.h"

namespace zelv {
namespace {

constexpr int kMargin = 28;         // screen pixels around the drawing, room for the numbers
constexpr double kDotRadius = 3.5;  // screen pixels
constexpr double kArrowHead = 7;    // screen pixels
const QColor kFlagged(200, 0, 0);
const QColor kArrow(0, 90, 200);
const QColor kEllipse(0, 140, 70);
const QColor kFrameFill(250, 248, 235);  // ivory: no blend of the other colours with white
// Up to this many points each is drawn with its arrow head and number; beyond, numbers could
// not be read and would cost the window seconds at every repaint.
constexpr std::size_t kDetailedPoints = 2000;

// The image frame, centred on the image centre, in the corrected frame (pixels); empty when the
// camera gives no usable size.
QRectF ImageFrame(const ResidualsReport& report) {
  const double w = report.imageWidth, h = report.imageHeight;
  if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h)) return {};
  return QRectF(-w / 2, -h / 2, w, h);
}

// Grows `r` to hold the point (x, y).
void Include(QRectF& r, double x, double y) {
  if (r.isNull()) {
    r = QRectF(x, y, 0, 0);
    return;
  }
  r.setLeft(std::min(r.left(), x));
  r.setRight(std::max(r.right(), x));
  r.setTop(std::min(r.top(), y));
  r.setBottom(std::max(r.bottom(), y));
}

void DrawArrow(QPainter& painter, QPointF from, QPointF to) {
  painter.drawLine(from, to);
  const double dx = to.x() - from.x(), dy = to.y() - from.y();
  const double length = std::sqrt(dx * dx + dy * dy);
  if (length < 1) return;
  const double ux = dx / length, uy = dy / length;
  const double head = std::min(kArrowHead, length * 0.5);
  // Two strokes 25 degrees either side of the shaft.
  const double c = std::cos(0.44), s = std::sin(0.44);
  painter.drawLine(to, to - QPointF(head * (ux * c - uy * s), head * (uy * c + ux * s)));
  painter.drawLine(to, to - QPointF(head * (ux * c + uy * s), head * (uy * c - ux * s)));
}

}  // namespace

std::vector<QRectF> PlaceNumberLabels(const std::vector<QPointF>& dots,
                                      const std::vector<QSizeF>& sizes,
                                      const std::vector<bool>& first) {
  constexpr double kGap = 4;  // screen pixels between the dot and its number
  std::vector<QRectF> placed(dots.size());
  std::vector<QRectF> taken;
  for (const bool pass : {true, false})
    for (std::size_t i = 0; i < dots.size(); ++i) {
      if (first[i] != pass) continue;
      const QPointF at = dots[i];
      const double w = sizes[i].width(), h = sizes[i].height();
      for (const QPointF corner :
           {QPointF(at.x() + kGap, at.y() - kGap - h),
            QPointF(at.x() - kGap - w, at.y() - kGap - h), QPointF(at.x() + kGap, at.y() + kGap),
            QPointF(at.x() - kGap - w, at.y() + kGap)}) {
        const QRectF label(corner, QSizeF(w, h));
        if (std::none_of(taken.begin(), taken.end(),
                         [&](const QRectF& other) { return other.intersects(label); })) {
          placed[i] = label;
          taken.push_back(label);
          break;
        }
      }
    }
  return placed;
}

ResidualPicture::ResidualPicture(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ResidualPicture"));
  setMinimumSize(240, 180);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAutoFillBackground(false);
}

void ResidualPicture::SetReport(const ResidualsReport* report) {
  report_ = report;
  magnification_ = 1;
  if (report_) {
    const QRectF frame = ImageFrame(*report_);
    const double size = frame.isNull() ? 0 : std::max(frame.width(), frame.height());
    magnification_ = ArrowMagnification(report_->residuals.summary.largest, size);
  }
  update();
}

QString ResidualPicture::MagnificationText() const {
  const char separator = report_ ? report_->decimalSeparator : '.';
  return QStringLiteral("×") + QString::fromStdString(FormatGeneral(magnification_, separator));
}

void ResidualPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  painter.setRenderHint(QPainter::Antialiasing, true);
  if (!report_) {
    painter.setPen(Qt::gray);
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Нет результата ориентации"));
    return;
  }
  const std::vector<PointResidual>& points = report_->residuals.points;
  const double k = magnification_;

  // What must be seen: the frame, every point and every arrow tip (corrected pixels, y up).
  const QRectF frame = ImageFrame(*report_);
  QRectF view = frame;
  for (const PointResidual& p : points) {
    Include(view, p.x, p.y);
    Include(view, p.x + k * p.ex, p.y + k * p.ey);
  }
  if (view.width() <= 0 || view.height() <= 0) {
    // A single point or points on one line: give the drawing some extent.
    const double extent = std::max({view.width(), view.height(), 1.0});
    view = QRectF(view.center().x() - extent / 2, view.center().y() - extent / 2, extent, extent);
  }

  // One scale for both axes keeps the aspect ratio; the drawing is centred.
  const double availableW = std::max(1, width() - 2 * kMargin);
  const double availableH = std::max(1, height() - 2 * kMargin);
  const double scale = std::min(availableW / view.width(), availableH / view.height());
  const double offsetX = (width() - view.width() * scale) / 2;
  const double offsetY = (height() - view.height() * scale) / 2;
  const auto map = [&](double x, double y) {
    return QPointF(offsetX + (x - view.left()) * scale, offsetY + (view.bottom() - y) * scale);
  };

  if (!frame.isNull()) {
    const QPointF topLeft = map(frame.left(), frame.bottom());
    const QPointF bottomRight = map(frame.right(), frame.top());
    painter.setPen(QPen(QColor(120, 120, 120), 1));
    painter.setBrush(kFrameFill);
    painter.drawRect(QRectF(topLeft, bottomRight));
    // The image centre.
    painter.setPen(QPen(QColor(170, 170, 170), 1, Qt::DashLine));
    painter.drawLine(map(frame.left(), 0), map(frame.right(), 0));
    painter.drawLine(map(0, frame.top()), map(0, frame.bottom()));
  }

  QFont font = painter.font();
  font.setPointSizeF(std::max(7.0, font.pointSizeF() - 1));
  painter.setFont(font);
  if (points.size() > kDetailedPoints) {
    // So many points that their numbers could not be read: shafts and dots only, set pixel by
    // pixel into a layer (a painter's line per point costs seconds at a million), the flagged
    // points last so that they stay on top.
    QImage layer(size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    const int w = layer.width(), h = layer.height();
    QRgb* const pixels = reinterpret_cast<QRgb*>(layer.bits());
    const qsizetype stride = layer.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    const auto plot = [pixels, stride, w, h](int x, int y, QRgb colour) {
      if (x >= 0 && y >= 0 && x < w && y < h) pixels[y * stride + x] = colour;
    };
    // Screen positions beyond this are off the picture anyway; it keeps the integers in range.
    const double limit = 4.0 * (w + h) + 16;
    const auto pixel = [limit](double v) {
      return static_cast<int>(std::floor(std::clamp(v, -limit, limit)));
    };
    for (const bool flagged : {false, true}) {
      const QRgb shaft = (flagged ? kFlagged : kArrow).rgba();
      const QRgb dot = (flagged ? kFlagged : QColor(Qt::black)).rgba();
      for (const PointResidual& p : points) {
        if (p.flagged != flagged) continue;
        const QPointF from = map(p.x, p.y);
        const QPointF to = map(p.x + k * p.ex, p.y + k * p.ey);
        const int x0 = pixel(from.x()), y0 = pixel(from.y());
        const int x1 = pixel(to.x()), y1 = pixel(to.y());
        // Bresenham's line from the point to the arrow's tip.
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int x = x0, y = y0, error = dx + dy;
        while (true) {
          plot(x, y, shaft);
          if (x == x1 && y == y1) break;
          const int twice = 2 * error;
          if (twice >= dy) {
            error += dy;
            x += sx;
          }
          if (twice <= dx) {
            error += dx;
            y += sy;
          }
        }
        for (int oy = -1; oy <= 1; ++oy)
          for (int ox = -1; ox <= 1; ++ox) plot(x0 + ox, y0 + oy, dot);
      }
    }
    painter.drawImage(0, 0, layer);
  } else {
    const QFontMetricsF metrics(font);
    std::vector<QPointF> dots;
    std::vector<QSizeF> sizes;
    std::vector<bool> flagged;
    std::vector<QString> names;
    // The 95 % ellipses of the projected points, magnified as the arrows, under them.
    const std::vector<Ellipse2>& ellipses = report_->ellipses;
    if (ellipses.size() == points.size()) {
      painter.setPen(QPen(kEllipse, 1));
      painter.setBrush(Qt::NoBrush);
      for (std::size_t i = 0; i < points.size(); ++i) {
        const Ellipse2& e = ellipses[i];
        if (!(e.a > 0)) continue;
        painter.save();
        painter.translate(map(points[i].x, points[i].y));
        painter.rotate(-e.angle * 180 / kPi);  // y up in the frame, down on the screen
        painter.drawEllipse(QPointF(0, 0), std::max(0.5, e.a * k * scale),
                            std::max(0.5, e.b * k * scale));
        painter.restore();
      }
    }
    for (const PointResidual& p : points) {
      const QColor colour = p.flagged ? kFlagged : kArrow;
      const QPointF at = map(p.x, p.y);
      painter.setPen(QPen(colour, p.flagged ? 2 : 1.5));
      DrawArrow(painter, at, map(p.x + k * p.ex, p.y + k * p.ey));
      painter.setPen(Qt::NoPen);
      painter.setBrush(p.flagged ? kFlagged : QColor(Qt::black));
      painter.drawEllipse(at, kDotRadius, kDotRadius);
      names.push_back(p.id.empty() ? QString::number(p.number) : QString::fromStdString(p.id));
      dots.push_back(at);
      sizes.push_back(metrics.boundingRect(names.back()).size());
      flagged.push_back(p.flagged);
    }
    // Numbers that would cover one another are moved round their dots, or left out where
    // the points crowd too closely for any of them to be read.
    const std::vector<QRectF> labels = PlaceNumberLabels(dots, sizes, flagged);
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (labels[i].isEmpty()) continue;
      painter.setPen(flagged[i] ? kFlagged : QColor(Qt::black));
      painter.drawText(labels[i], Qt::AlignLeft | Qt::AlignVCenter, names[i]);
    }
  }
  painter.setRenderHint(QPainter::Antialiasing, true);

  font.setPointSizeF(font.pointSizeF() + 2);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(8, height() - kMargin, width() - 16, kMargin - 4),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Невязки ") + MagnificationText());
}

}  // namespace zelv
