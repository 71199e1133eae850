#include "app/windows/photo_point_model.h"

#include <QColor>
#include <cmath>

#include "base/number_text.h"

namespace zelv {

PhotoPointModel::PhotoPointModel(QObject* parent) : QAbstractTableModel(parent) {}

void PhotoPointModel::SetPoints(const RawPoints& points) {
  if (points.size() == points_.size()) {
    points_ = points;
    if (!points_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    return;
  }
  beginResetModel();
  points_ = points;
  endResetModel();
}

void PhotoPointModel::SetOverlay(const std::optional<PhotoOverlay>& overlay) {
  beginResetModel();
  residuals_.clear();
  if (overlay)
    for (const OverlayPoint& p : overlay->points) residuals_[p.number] = p;
  endResetModel();
}

void PhotoPointModel::SetDecimalSeparator(char separator) {
  beginResetModel();
  separator_ = separator;
  endResetModel();
}

int PhotoPointModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(points_.size());
}

int PhotoPointModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 4;
}

QVariant PhotoPointModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const PixelPoint& p = points_[static_cast<std::size_t>(index.row())];
  const int number = index.row() + 1;
  const auto residual = residuals_.find(number);
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case 0:
        return number;
      case 1:
        return QString::fromStdString(FormatFixed4(p.x, separator_));
      case 2:
        return QString::fromStdString(FormatFixed4(p.y, separator_));
      case 3: {
        if (residual == residuals_.end()) return QString();
        const double dx = residual->second.measured.x - residual->second.projected.x;
        const double dy = residual->second.measured.y - residual->second.projected.y;
        return QString::fromStdString(FormatFixed4(std::sqrt(dx * dx + dy * dy), separator_));
      }
      default:
        return {};
    }
  }
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ForegroundRole && residual != residuals_.end()) {
    if (residual->second.outlier) return QColor(190, 0, 190);
    if (residual->second.flagged) return QColor(200, 0, 0);
  }
  return {};
}

QVariant PhotoPointModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  static const char* const kHeadings[] = {"№", "x", "y", "|e|"};
  if (section < 0 || section >= 4) return {};
  return QString::fromUtf8(kHeadings[section]);
}

}  // namespace zelv
