#include "app/windows/calibration_picture.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace zelv {

namespace {

// Green for the least of the map's values through yellow to red for the largest.
QColor HeatColour(double fraction, int alpha) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int red = static_cast<int>(std::lround(255 * std::min(1.0, 2 * fraction)));
  const int green = static_cast<int>(std::lround(255 * std::min(1.0, 2 * (1 - fraction))));
  return QColor(red, green, 0, alpha);
}

QString Figure(double value) { return QString::number(value, 'g', 3); }

}  // namespace

double ResidualMagnification(double largestResidual, double length) {
  if (!(largestResidual > 0) || !std::isfinite(largestResidual)) return 1;
  const double wanted = length / largestResidual;
  if (wanted <= 1) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(wanted)));
  for (double step : {5.0, 2.0, 1.0})
    if (step * power <= wanted) return std::min(step * power, 1e6);
  return power;
}

CalibrationPicture::CalibrationPicture(QWidget* parent) : QWidget(parent) {
  setMinimumSize(200, 150);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CalibrationPicture::SetView(const QImage& photograph, const std::vector<PixelPoint>& corners,
                                 const std::vector<PixelPoint>& residuals, double magnification) {
  photograph_ = photograph;
  corners_ = corners;
  residuals_ = residuals.size() == corners.size() ? residuals : std::vector<PixelPoint>{};
  magnification_ = magnification;
  update();
}

void CalibrationPicture::SetOverlay(const ImageGridMap& map, Overlay kind) {
  overlay_ = map;
  overlayKind_ = map.values.empty() ? Overlay::kNone : kind;
  update();
}

QString CalibrationPicture::Legend() const {
  QString legend;
  if (!residuals_.empty())
    legend = QStringLiteral("Невязки увеличены в %1 раз").arg(Figure(magnification_));
  if (overlayKind_ != Overlay::kNone && !overlay_.values.empty()) {
    const auto [low, high] = std::minmax_element(overlay_.values.begin(), overlay_.values.end());
    if (!legend.isEmpty()) legend += QStringLiteral("; ");
    if (overlayKind_ == Overlay::kUncertainty)
      legend += QStringLiteral("неопределённость проекции: %1 пкс (зелёный) – %2 пкс (красный)")
                    .arg(Figure(*low), Figure(*high));
    else
      legend += QStringLiteral("углов в клетке: 0 (красный) – %1 (синий)").arg(Figure(*high));
  }
  return legend;
}

void CalibrationPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (photograph_.isNull()) {
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Выберите снимок в списке"));
    return;
  }
  // Two lines for the legend, which wraps in a narrow window.
  const int legendHeight = 2 * fontMetrics().height() + 4;
  const QRectF area(0, 0, width(), std::max(1, height() - legendHeight));
  const double scale =
      std::min(area.width() / photograph_.width(), area.height() / photograph_.height());
  const QSizeF shown(photograph_.width() * scale, photograph_.height() * scale);
  const QPointF origin((area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.drawImage(QRectF(origin, shown), photograph_);
  // A raw pixel's centre (x, y) is at (x + 0.5, y + 0.5) of the image's own frame.
  auto toWidget = [&](double x, double y) {
    return QPointF(origin.x() + (x + 0.5) * scale, origin.y() + (y + 0.5) * scale);
  };

  if (overlayKind_ != Overlay::kNone && overlay_.columns > 0 && overlay_.rows > 0 &&
      static_cast<int>(overlay_.values.size()) == overlay_.columns * overlay_.rows) {
    const auto [low, high] = std::minmax_element(overlay_.values.begin(), overlay_.values.end());
    const double span = *high - *low;
    const double cellWidth = shown.width() / overlay_.columns;
    const double cellHeight = shown.height() / overlay_.rows;
    for (int r = 0; r < overlay_.rows; ++r)
      for (int c = 0; c < overlay_.columns; ++c) {
        const double value = overlay_.At(c, r);
        QColor colour;
        if (overlayKind_ == Overlay::kUncertainty) {
          colour = HeatColour(span > 0 ? (value - *low) / span : 0, 110);
        } else if (value <= 0) {
          colour = QColor(255, 0, 0, 120);  // never reached by a corner
        } else {
          colour = QColor(0, 80, 255, static_cast<int>(40 + 100 * value / std::max(*high, 1.0)));
        }
        painter.fillRect(
            QRectF(origin.x() + c * cellWidth, origin.y() + r * cellHeight, cellWidth, cellHeight),
            colour);
      }
  }

  const double arm = 4;
  painter.setPen(QPen(QColor(0, 200, 0), 1.5));
  for (const PixelPoint& corner : corners_) {
    const QPointF p = toWidget(corner.x, corner.y);
    painter.drawLine(p - QPointF(arm, 0), p + QPointF(arm, 0));
    painter.drawLine(p - QPointF(0, arm), p + QPointF(0, arm));
  }
  painter.setPen(QPen(QColor(230, 0, 0), 1.5));
  for (size_t i = 0; i < residuals_.size(); ++i) {
    const PixelPoint& corner = corners_[i];
    const PixelPoint& e = residuals_[i];
    painter.drawLine(toWidget(corner.x, corner.y),
                     toWidget(corner.x + e.x * magnification_, corner.y + e.y * magnification_));
  }
  painter.setPen(palette().windowText().color());
  painter.drawText(QRectF(4, height() - legendHeight, width() - 8, legendHeight),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, Legend());
}

}  // namespace zelv
