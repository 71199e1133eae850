#include "app/windows/photo_items.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <algorithm>
#include <cmath>

namespace zelv {
namespace {

constexpr int kSmallestLevel = 256;  // pixels: no level is built below this longer side
constexpr double kCross = 7;         // screen pixels, half the cross
const QColor kPointColour(255, 220, 0);
const QColor kSelectedColour(0, 230, 255);
const QColor kFlaggedColour(255, 40, 40);
const QColor kProjectedColour(60, 255, 60);
const QColor kArrowColour(255, 120, 0);
const QColor kOutlierColour(230, 0, 230);

void DrawArrow(QPainter& painter, QPointF from, QPointF to, double head) {
  painter.drawLine(from, to);
  const double dx = to.x() - from.x(), dy = to.y() - from.y();
  const double length = std::sqrt(dx * dx + dy * dy);
  if (!(length > 0)) return;
  const double ux = dx / length, uy = dy / length;
  head = std::min(head, length * 0.5);
  const double c = std::cos(0.44), s = std::sin(0.44);
  painter.drawLine(to, to - QPointF(head * (ux * c - uy * s), head * (uy * c + ux * s)));
  painter.drawLine(to, to - QPointF(head * (ux * c + uy * s), head * (uy * c - ux * s)));
}

}  // namespace

// ---------------------------------------------------------------- the photograph

PhotoImageItem::PhotoImageItem(const QImage& photo) {
  // The raster engine draws these formats straight, without converting a whole level per paint.
  levels_.push_back(photo.convertToFormat(
      photo.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32));
  while (std::max(levels_.back().width(), levels_.back().height()) > 2 * kSmallestLevel) {
    const QImage& last = levels_.back();
    levels_.push_back(last.scaled(std::max(1, last.width() / 2), std::max(1, last.height() / 2),
                                  Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }
  setFlag(ItemUsesExtendedStyleOption, true);
  setZValue(-1);
}

QRectF PhotoImageItem::boundingRect() const {
  // Pixel (i, j) covers [i - 0.5, i + 0.5] × [j - 0.5, j + 0.5].
  return QRectF(-0.5, -0.5, levels_[0].width(), levels_[0].height());
}

int PhotoImageItem::LevelFor(double scale) const {
  if (!(scale > 0) || !std::isfinite(scale)) return 0;
  // The smallest level still at least as fine as the screen: level k has 2^-k of the pixels.
  const int level = static_cast<int>(std::floor(std::log2(1 / scale)));
  return std::clamp(level, 0, LevelCount() - 1);
}

void PhotoImageItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) {
  const double scale =
      QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter->worldTransform());
  const QImage& level = levels_[static_cast<std::size_t>(LevelFor(scale))];
  const QRectF whole = boundingRect();
  const QRectF exposed = option->exposedRect.intersected(whole);
  if (exposed.isEmpty()) return;
  const double fx = level.width() / whole.width(), fy = level.height() / whole.height();
  // Whole level pixels around the exposed part, so neighbouring paints join without seams.
  const QRectF wanted((exposed.left() - whole.left()) * fx, (exposed.top() - whole.top()) * fy,
                      exposed.width() * fx, exposed.height() * fy);
  const QRect source = wanted.toAlignedRect().intersected(level.rect());
  const QRectF target(whole.left() + source.left() / fx, whole.top() + source.top() / fy,
                      source.width() / fx, source.height() / fy);
  // Magnified beyond 1:1 the pixels are shown as they are, for measuring.
  painter->setRenderHint(QPainter::SmoothPixmapTransform, scale < 1);
  painter->drawImage(target, level, source);
}

// ---------------------------------------------------------------- a control point

PhotoPointItem::PhotoPointItem(int number) : number_(number) {
  setFlags(ItemIsSelectable | ItemIsMovable | ItemIgnoresTransformations | ItemIsFocusable);
  setZValue(2);
  // The mark looks the same at every zoom: drawn once into a pixmap, hundreds of points then
  // cost a blit each per frame instead of their text.
  setCacheMode(DeviceCoordinateCache);
}

void PhotoPointItem::SetNumber(int number) {
  if (number == number_) return;
  number_ = number;
  update();
}

void PhotoPointItem::SetFlagged(bool flagged) {
  if (flagged == flagged_) return;
  flagged_ = flagged;
  update();
}

QRectF PhotoPointItem::boundingRect() const {
  // The cross, and the number above to the right of it (up to six digits).
  return QRectF(-kCross - 2, -kCross - 18, 2 * kCross + 52, 2 * kCross + 20);
}

QPainterPath PhotoPointItem::shape() const {
  QPainterPath path;
  path.addEllipse(QPointF(0, 0), kCross + 2, kCross + 2);
  return path;
}

void PhotoPointItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  const QColor colour = isSelected() ? kSelectedColour : (flagged_ ? kFlaggedColour : kPointColour);
  painter->setRenderHint(QPainter::Antialiasing, true);
  // A dark outline keeps the mark visible on light and dark parts of the photograph alike.
  const std::pair<QColor, double> strokes[] = {{QColor(0, 0, 0, 170), 3.0}, {colour, 1.3}};
  for (const auto& [pen, width] : strokes) {
    painter->setPen(QPen(pen, width));
    painter->drawLine(QPointF(-kCross, 0), QPointF(-2, 0));
    painter->drawLine(QPointF(2, 0), QPointF(kCross, 0));
    painter->drawLine(QPointF(0, -kCross), QPointF(0, -2));
    painter->drawLine(QPointF(0, 2), QPointF(0, kCross));
  }
  QFont font = painter->font();
  font.setPixelSize(12);
  font.setBold(true);
  painter->setFont(font);
  const QString text = QString::number(number_);
  const QPointF at(kCross - 2, -kCross + 1);
  painter->setPen(QColor(0, 0, 0, 200));
  for (const QPointF& shift : {QPointF(1, 1), QPointF(-1, 1), QPointF(1, -1), QPointF(-1, -1)})
    painter->drawText(at + shift, text);
  painter->setPen(colour);
  painter->drawText(at, text);
}

// ---------------------------------------------------------------- the orientation overlay

void PhotoOverlayItem::SetOverlay(const std::optional<PhotoOverlay>& overlay, const QRectF& frame) {
  prepareGeometryChange();
  overlay_ = overlay;
  QRectF bounds = frame;
  if (overlay_) {
    const double k = overlay_->magnification;
    for (const OverlayPoint& p : overlay_->points) {
      const QPointF m(p.measured.x, p.measured.y);
      const QPointF tip(p.measured.x + k * (p.measured.x - p.projected.x),
                        p.measured.y + k * (p.measured.y - p.projected.y));
      bounds |= QRectF(m, tip).normalized();
      bounds |= QRectF(QPointF(p.projected.x, p.projected.y), QSizeF(0, 0));
    }
  }
  // Room for the marks' screen size at a strong zoom-out.
  bounds_ = bounds.adjusted(-200, -200, 200, 200);
  setZValue(1);
  update();
}

void PhotoOverlayItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  if (!overlay_) return;
  const double scale =
      QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter->worldTransform());
  if (!(scale > 0)) return;
  const double pixel = 1 / scale;  // one screen pixel in photograph pixels
  const double k = overlay_->magnification;
  painter->setRenderHint(QPainter::Antialiasing, true);
  for (const OverlayPoint& p : overlay_->points) {
    const QPointF projected(p.projected.x, p.projected.y);
    const QPointF measured(p.measured.x, p.measured.y);
    const QPointF tip(p.measured.x + k * (p.measured.x - p.projected.x),
                      p.measured.y + k * (p.measured.y - p.projected.y));
    QPen arrow(p.flagged ? kFlaggedColour : kArrowColour, p.flagged ? 2.2 : 1.4);
    arrow.setCosmetic(true);
    painter->setPen(arrow);
    DrawArrow(*painter, measured, tip, 8 * pixel);
    // The projection: a small circle exactly where the result puts the scene point.
    QPen ring(kProjectedColour, 1.4);
    ring.setCosmetic(true);
    painter->setPen(ring);
    painter->setBrush(Qt::NoBrush);
    painter->drawEllipse(projected, 4 * pixel, 4 * pixel);
    if (p.outlier) {
      // A blunder the estimate left out: crossed out.
      QPen cross(kOutlierColour, 2.4);
      cross.setCosmetic(true);
      painter->setPen(cross);
      const double r = 12 * pixel;
      painter->drawLine(measured + QPointF(-r, -r), measured + QPointF(r, r));
      painter->drawLine(measured + QPointF(-r, r), measured + QPointF(r, -r));
    }
    if (p.flagged) {
      QPen mark(kFlaggedColour, 2);
      mark.setCosmetic(true);
      painter->setPen(mark);
      painter->drawRect(
          QRectF(measured - QPointF(11 * pixel, 11 * pixel), QSizeF(22 * pixel, 22 * pixel)));
    }
  }
}

}  // namespace zelv
